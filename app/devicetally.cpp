#include "devicetally.h"

#include "protocol.h"

#include "adapters.h"
#include "devicefields.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>

QList<SearchedAdapter> SearchedAdapters(
    const QList<InterfaceInfo>& interfaces, const std::vector<GroupAdapter>& adapters)
{
    QList<SearchedAdapter> searched;
    for (const GroupAdapter& adapter : adapters) {
        const auto info = std::find_if(interfaces.begin(), interfaces.end(),
            [&](const InterfaceInfo& i) { return adapter.index != 0 && i.index == adapter.index; });
        if (info != interfaces.end())
            searched.append({ info->name, info->address.toString() });
    }
    return searched;
}

void DeviceTally::startSearch(const QList<SearchedAdapter>& searchedAdapters)
{
    searched = true;
    adapters = searchedAdapters;
    serials.clear();
    withoutSerial = 0;
    answeredAtNewAddress.clear();
    searchedSinceSent = sent;
}

void DeviceTally::addDevice(const DeviceFields& device)
{
    if (!device.sn || device.sn->isEmpty()) {
        ++withoutSerial;
        return;
    }
    serials.insert(*device.sn);
    const auto set = sentAddress.constFind(*device.sn);
    if (set != sentAddress.constEnd() && device.ip && *device.ip == *set)
        answeredAtNewAddress.insert(*device.sn);
}

void DeviceTally::settingsSent(const QHash<QString, QString>& addressBySerial, int commandsSent)
{
    sent = true;
    commands = commandsSent;
    searchedSinceSent = false;
    sentAddress = addressBySerial;
    answeredAtNewAddress.clear();
}

int DeviceTally::devicesFound() const
{
    return serials.size() + withoutSerial;
}

int DeviceTally::atNewAddress() const
{
    return answeredAtNewAddress.size();
}

QString DeviceTally::foundText() const
{
    if (!searched)
        return QString();
    QString text = tr("找到 %n 台设备", nullptr, devicesFound());
    if (adapters.isEmpty())
        return text + tr("（系统默认网卡）");
    QStringList names;
    for (const SearchedAdapter& adapter : adapters)
        names << adapter.name;
    return text
        + tr("（%n 个网卡：%1）", nullptr, adapters.size())
              .arg(names.join(tr("、", "between the items of a list")));
}

QString DeviceTally::foundToolTip() const
{
    if (!searched)
        return QString();
    if (adapters.isEmpty())
        return tr("由系统选择搜索所用的网卡");
    QStringList lines;
    for (const SearchedAdapter& adapter : adapters)
        lines << QStringLiteral("%1  %2").arg(adapter.name, adapter.address);
    return lines.join(QLatin1Char('\n'));
}

QString DeviceTally::setText() const
{
    if (!sent)
        return QString();
    if (commands == 0)
        return tr("设置未能发送");
    if (!searchedSinceSent || sentAddress.isEmpty())
        return tr("已向 %n 台设备发送设置，点击“搜索”查看结果", nullptr, commands);
    return tr("%n 台中 %1 台已使用新地址", nullptr, sentAddress.size()).arg(atNewAddress());
}

QString DeviceTally::portsText(bool replyPortOpen, bool announcePortOpen)
{
    QStringList problems;
    if (!replyPortOpen)
        problems << tr("UDP 端口 %1 无法打开，可能被其他程序占用：收不到设备的应答，也无法发送设置")
                        .arg(kReplyPort);
    if (!announcePortOpen)
        problems << tr(
            "UDP 端口 %1 无法打开，可能被其他程序（如 devicesearch-cli watch）占用：收不到设备的通告")
                        .arg(kAnnouncePort);
    return problems.join(tr("；", "between two sentences"));
}

QString DeviceTally::setToolTip() const
{
    if (!sent || !searchedSinceSent || atNewAddress() == sentAddress.size())
        return QString();
    QStringList missing;
    for (auto it = sentAddress.constBegin(); it != sentAddress.constEnd(); ++it) {
        if (!answeredAtNewAddress.contains(it.key()))
            missing << it.key();
    }
    missing.sort();
    return tr("尚未在新地址应答：%1").arg(missing.join(tr("、", "between the items of a list")));
}
