<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>MainWindow</name>
    <message>
        <source>设备搜索V2.1</source>
        <translation>Device Search V2.1</translation>
    </message>
    <message>
        <source>序号</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>设备名称</source>
        <translation>Device name</translation>
    </message>
    <message>
        <source>IP地址</source>
        <translation>IP address</translation>
    </message>
    <message>
        <source>序列号</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>识别码</source>
        <translation>ID code</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>批量设置IP:</source>
        <translation>Batch IP:</translation>
    </message>
    <message>
        <source>起始IP：</source>
        <translation>Start IP:</translation>
    </message>
    <message>
        <source>结束IP：</source>
        <translation>End IP:</translation>
    </message>
    <message>
        <source>子网掩码：</source>
        <translation>Mask:</translation>
    </message>
    <message>
        <source>网关地址：</source>
        <translation>Router:</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Set</translation>
    </message>
    <message numerus="yes">
        <source>找到 %n 台设备</source>
        <translation>
            <numerusform>%n device found</numerusform>
            <numerusform>%n devices found</numerusform>
        </translation>
    </message>
    <message>
        <source>（系统默认网卡）</source>
        <translation> on the system&apos;s default adapter</translation>
    </message>
    <message numerus="yes">
        <source>（%n 个网卡：%1）</source>
        <translation>
            <numerusform> on %n adapter: %1</numerusform>
            <numerusform> on %n adapters: %1</numerusform>
        </translation>
    </message>
    <message>
        <source>、</source>
        <comment>between the items of a list</comment>
        <translation>, </translation>
    </message>
    <message>
        <source>由系统选择搜索所用的网卡</source>
        <translation>The system chooses the adapter to search on</translation>
    </message>
    <message>
        <source>设置未能发送</source>
        <translation>No settings could be sent.</translation>
    </message>
    <message numerus="yes">
        <source>已向 %n 台设备发送设置，点击“搜索”查看结果</source>
        <translation>
            <numerusform>Settings sent to %n device. Search to see whether it took.</numerusform>
            <numerusform>Settings sent to %n devices. Search to see which took.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 台中 %1 台已使用新地址</source>
        <translation>
            <numerusform>%1 of %n device answers at its new address</numerusform>
            <numerusform>%1 of %n devices answer at their new address</numerusform>
        </translation>
    </message>
    <message>
        <source>尚未在新地址应答：%1</source>
        <translation>Not yet at the new address: %1</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>请先选择设备！</source>
        <translation>Select a device first.</translation>
    </message>
    <message>
        <source>请设置起始IP！</source>
        <translation>Enter the start IP.</translation>
    </message>
    <message>
        <source>请设置子网掩码！</source>
        <translation>Enter the subnet mask.</translation>
    </message>
    <message>
        <source>请设置网关地址！</source>
        <translation>Enter the router (gateway) address.</translation>
    </message>
    <message>
        <source>有多个设备，请设置结束IP！</source>
        <translation>Several devices are selected: enter the end IP.</translation>
    </message>
    <message>
        <source>起始IP和结束IP必需在同一个网段！</source>
        <translation>The start IP and the end IP must be in the same subnet.</translation>
    </message>
    <message>
        <source>起始IP必需小于结束IP！</source>
        <translation>The start IP must be lower than the end IP.</translation>
    </message>
    <message>
        <source>IP地址最后一位不能为255！</source>
        <translation>The last number of an IP address cannot be 255.</translation>
    </message>
</context>
</TS>
