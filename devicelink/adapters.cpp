#include "adapters.h"

#include "netcompat.h"

#include <algorithm>

QList<InterfaceInfo> Ipv4Interfaces()
{
    const QSet<int> tunnels = TunnelAdapterIndexes();
    QList<InterfaceInfo> found;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        // Once per interface: a second address must not bring a second membership.
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            InterfaceInfo info;
            // The same as name() on Linux; Windows names adapters by LUID there.
            info.name = iface.humanReadableName();
            info.systemName = iface.name();
            info.index = iface.index();
            info.address = entry.ip();
            info.prefix = entry.prefixLength();
            const QNetworkInterface::InterfaceFlags flags = iface.flags();
            info.up = flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning);
            info.multicast = flags.testFlag(QNetworkInterface::CanMulticast);
            info.loopback = flags.testFlag(QNetworkInterface::IsLoopBack);
            info.pointToPoint = flags.testFlag(QNetworkInterface::IsPointToPoint);
            info.tunnel = tunnels.contains(info.index);
            info.iface = iface;
            found.append(info);
            break;
        }
    }
    MarkDefaultInterfaces(&found);
    return found;
}

void MarkDefaultInterfaces(QList<InterfaceInfo>* interfaces)
{
    const auto usable
        = [](const InterfaceInfo& i) { return i.up && i.multicast && !i.pointToPoint && !i.tunnel; };
    const bool other = std::any_of(interfaces->begin(), interfaces->end(),
        [&](const InterfaceInfo& i) { return usable(i) && !i.loopback; });
    for (InterfaceInfo& info : *interfaces)
        info.byDefault = usable(info) && (!info.loopback || !other);
}

bool IsTunnelAdapter(unsigned ifType, unsigned tunnelType, const QString& description)
{
    // IF_TYPE_PPP, IF_TYPE_TUNNEL; any TunnelType but TUNNEL_TYPE_NONE.
    if (ifType == 23 || ifType == 131 || tunnelType != 0)
        return true;
    // The TAP-Windows (once TAP-Win32), Wintun and WireGuard drivers, the "... Tunnel"
    // adapters that VPN clients make of them, and the clients' own "SSL VPN" and "Virtual
    // Private Network" adapters.
    static const char* const kNamed[]
        = { "TAP-Win", "Wintun", "WireGuard", "Tunnel", "VPN", "Virtual Private" };
    return std::any_of(std::begin(kNamed), std::end(kNamed),
        [&](const char* word) { return description.contains(QLatin1String(word), Qt::CaseInsensitive); });
}

#ifndef _WIN32
QSet<int> TunnelAdapterIndexes()
{
    return {};
}
#endif

std::vector<GroupAdapter> GroupAdapters(const QList<InterfaceInfo>& interfaces)
{
    std::vector<GroupAdapter> adapters;
    for (const InterfaceInfo& info : interfaces) {
        if (!info.byDefault || info.loopback || info.index <= 0)
            continue;
        const bool twice = std::any_of(
            adapters.begin(), adapters.end(), [&](const GroupAdapter& a) { return a.index == info.index; });
        if (!twice)
            adapters.push_back({ info.index, htonl(info.address.toIPv4Address()) });
    }
    if (adapters.empty())
        adapters.push_back({});
    return adapters;
}
