<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>ListExport</name>
    <message>
        <source>导出列表…</source>
        <translation>Export list…</translation>
    </message>
    <message>
        <source>工作簿 (*.xlsx)</source>
        <translation>Workbook (*.xlsx)</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV file (*.csv)</translation>
    </message>
    <message>
        <source>导出列表</source>
        <translation>Export list</translation>
    </message>
    <message>
        <source>无法导出到 %1：%2</source>
        <translation>Cannot export to %1: %2</translation>
    </message>
    <message numerus="yes">
        <source>已导出 %n 台设备到 %1</source>
        <translation>
            <numerusform>Exported %n device to %1</numerusform>
            <numerusform>Exported %n devices to %1</numerusform>
        </translation>
    </message>
</context>
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
    <message>
        <source>跳过已占用的地址：各设备依次使用范围内未被占用的地址。</source>
        <translation>Skip taken addresses: each device gets the next free address of the range.</translation>
    </message>
    <message>
        <source>跳过已占用的地址</source>
        <translation>Skip taken addresses</translation>
    </message>
    <message>
        <source>仍然设置</source>
        <translation>Set anyway</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>（无序列号）</source>
        <translation>(no serial number)</translation>
    </message>
    <message>
        <source>已被本机占用</source>
        <translation>held by this computer</translation>
    </message>
    <message>
        <source>已被本次搜索到的一台无序列号的设备占用</source>
        <translation>held by a device of this search without a serial number</translation>
    </message>
    <message>
        <source>已被本次搜索到的设备 %1 占用</source>
        <translation>held by device %1 of this search</translation>
    </message>
    <message>
        <source>已被 %1 占用</source>
        <translation>held by %1</translation>
    </message>
    <message numerus="yes">
        <source>%n 个地址未能检查：不在该网卡的网段内</source>
        <translation>
            <numerusform>%n address not checked: outside the adapter&apos;s subnets</numerusform>
            <numerusform>%n addresses not checked: outside the adapter&apos;s subnets</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个地址未能检查：网卡已断开或停用</source>
        <translation>
            <numerusform>%n address not checked: the adapter went away or down</numerusform>
            <numerusform>%n addresses not checked: the adapter went away or down</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个地址未能检查：不知道设备应答所用的网卡</source>
        <translation>
            <numerusform>%n address not checked: the device&apos;s adapter is not known</numerusform>
            <numerusform>%n addresses not checked: the device&apos;s adapter is not known</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个地址未能检查：该网卡无法解析地址</source>
        <translation>
            <numerusform>%n address not checked: the adapter cannot resolve addresses</numerusform>
            <numerusform>%n addresses not checked: the adapter cannot resolve addresses</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个地址未能检查：探测助手正忙</source>
        <translation>
            <numerusform>%n address not checked: the probe helper is busy</numerusform>
            <numerusform>%n addresses not checked: the probe helper is busy</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个地址未能检查：探测助手出错</source>
        <translation>
            <numerusform>%n address not checked: the probe helper failed</numerusform>
            <numerusform>%n addresses not checked: the probe helper failed</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个地址未能检查：系统上次见到占用者已是 %1 分钟以前</source>
        <translation>
            <numerusform>%n address not checked: the system last saw a holder %1 min ago</numerusform>
            <numerusform>%n addresses not checked: the system last saw a holder %1 min ago</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>……另有 %n 个</source>
        <translation>
            <numerusform>… and %n more</numerusform>
            <numerusform>… and %n more</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个新地址已被占用：</source>
        <translation>
            <numerusform>%n new address is already in use:</numerusform>
            <numerusform>%n new addresses are already in use:</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 应答了许多地址，可能是一台代替其他主机应答的路由器（代理 ARP）。</source>
        <translation>%1 answers for many addresses: likely a router answering for others (proxy ARP).</translation>
    </message>
    <message numerus="yes">
        <source>正在检查 %n 个地址…</source>
        <translation>
            <numerusform>Checking %n address…</numerusform>
            <numerusform>Checking %n addresses…</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 台设备未分配到地址：范围内的地址不够</source>
        <translation>
            <numerusform>%n device got no address: the range is too short</numerusform>
            <numerusform>%n devices got no address: the range is too short</numerusform>
        </translation>
    </message>
    <message>
        <source>未分配到地址：%1</source>
        <translation>No address for: %1</translation>
    </message>
    <message>
        <source>；</source>
        <comment>between the sentences of the status line</comment>
        <translation>; </translation>
    </message>
    <message>
        <source>%1（无序列号设备的新地址）%2</source>
        <translation>%1 (for a device without a serial number): %2</translation>
    </message>
    <message>
        <source>%1（%2 的新地址）%3</source>
        <translation>%1 (for %2): %3</translation>
    </message>
    <message>
        <source>UDP 端口 %1 无法打开，可能被其他程序占用：收不到设备的应答，也无法发送设置</source>
        <translation>UDP port %1 cannot be opened; another program may hold it: device replies will not be heard and settings cannot be sent</translation>
    </message>
    <message>
        <source>UDP 端口 %1 无法打开，可能被其他程序（如 devicesearch-cli watch）占用：收不到设备的通告</source>
        <translation>UDP port %1 cannot be opened; another program (devicesearch-cli watch, for one) may hold it: device announcements will not be heard</translation>
    </message>
    <message>
        <source>；</source>
        <comment>between two sentences</comment>
        <translation>; </translation>
    </message>
</context>
<context>
    <name>PlanFlow</name>
    <message>
        <source>按计划设置…</source>
        <translation>Set from plan…</translation>
    </message>
    <message>
        <source>打开计划</source>
        <translation>Open plan</translation>
    </message>
    <message>
        <source>计划 (*.xlsx *.ods *.csv *.txt)</source>
        <translation>Plans (*.xlsx *.ods *.csv *.txt)</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>正在读取计划 %1…</source>
        <translation>Reading the plan %1…</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>仍然设置</source>
        <translation>Set anyway</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>PlanView</name>
    <message>
        <source>设置</source>
        <translation>set</translation>
    </message>
    <message>
        <source>未找到</source>
        <translation>not found</translation>
    </message>
    <message>
        <source>未找到；%1</source>
        <translation>not found; %1</translation>
    </message>
    <message>
        <source>已找到，但不可配置</source>
        <translation>found, but not configurable</translation>
    </message>
    <message>
        <source>从多个地址应答（%1）：不设置，请自行勾选</source>
        <translation>answered from more than one address (%1): not set, tick the row yourself</translation>
    </message>
    <message>
        <source>在多个网卡上应答：不设置，请自行勾选</source>
        <translation>answered on more than one adapter: not set, tick the row yourself</translation>
    </message>
    <message>
        <source>没有子网掩码：无法设置</source>
        <translation>no mask: cannot be set</translation>
    </message>
    <message>
        <source>序列号</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>当前地址</source>
        <translation>Address now</translation>
    </message>
    <message>
        <source>新地址</source>
        <translation>New address</translation>
    </message>
    <message>
        <source>子网掩码</source>
        <translation>Mask</translation>
    </message>
    <message>
        <source>网关地址</source>
        <translation>Gateway</translation>
    </message>
    <message>
        <source>网卡</source>
        <translation>Adapter</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>What happens</translation>
    </message>
    <message>
        <source>计划</source>
        <translation>Plan</translation>
    </message>
    <message>
        <source>搜索到、但计划中没有的设备：</source>
        <translation>Devices found that the plan does not name:</translation>
    </message>
    <message>
        <source>IP地址</source>
        <translation>IP address</translation>
    </message>
    <message>
        <source>设备名称</source>
        <translation>Device name</translation>
    </message>
    <message>
        <source>计划 %1 行：设置 %2 台，未找到 %3 台；另有 %4 台设备不在计划中</source>
        <translation>Plan rows: %1; to set: %2; not found: %3; not in the plan: %4</translation>
    </message>
    <message>
        <source>计划不是 UTF-8 文本：已按系统代码页 %1 读取</source>
        <translation>The plan is not UTF-8 text: read in the system&apos;s code page %1</translation>
    </message>
    <message numerus="yes">
        <source>设置 %n 台设备</source>
        <translation>
            <numerusform>Set %n device</numerusform>
            <numerusform>Set %n devices</numerusform>
        </translation>
    </message>
    <message>
        <source>导出…</source>
        <translation>Export…</translation>
    </message>
    <message>
        <source>导出计划</source>
        <translation>Export plan</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
</TS>
