// Which adapters a search uses and which one a device's command leaves by, as plain
// functions over lists that the tests make: no network.
#include "adapters.h"
#include "groupmembership.h"

#include <QtTest>

namespace {
// One adapter by a short description: name, then any of up, mc (multicast), lo, p2p, and
// tunnel (a Windows tunnel that Qt counts as Ethernet).
InterfaceInfo adapter(const QString& description, int index)
{
    const QStringList words = description.split(' ');
    InterfaceInfo info;
    info.name = info.systemName = words.first();
    info.index = index;
    info.address = QHostAddress(QStringLiteral("10.0.%1.1").arg(index));
    info.up = words.contains("up");
    info.multicast = words.contains("mc");
    info.loopback = words.contains("lo");
    info.pointToPoint = words.contains("p2p");
    info.tunnel = words.contains("tunnel");
    return info;
}

QList<InterfaceInfo> adapters(const QString& descriptions)
{
    QList<InterfaceInfo> list;
    for (const QString& one : descriptions.split(',', Qt::SkipEmptyParts))
        list.append(adapter(one.trimmed(), list.size() + 1));
    return list;
}

std::vector<GroupAdapter> group(std::initializer_list<int> indexes)
{
    std::vector<GroupAdapter> list;
    for (int i : indexes)
        list.push_back({ i, i == 0 ? 0u : htonl(0x0a000001u | (uint32_t(i) << 8)) });
    return list;
}

QList<int> indexes(const std::vector<GroupAdapter>& list)
{
    QList<int> out;
    for (const GroupAdapter& a : list)
        out << a.index;
    return out;
}
}

class TestAdapters : public QObject {
    Q_OBJECT
private slots:
    void searchedByDefault_data();
    void searchedByDefault();
    void membershipChanges_data();
    void membershipChanges();
    void commandAdapter_data();
    void commandAdapter();
    void windowsTunnel_data();
    void windowsTunnel();
};

void TestAdapters::searchedByDefault_data()
{
    QTest::addColumn<QString>("system");
    QTest::addColumn<QStringList>("searched"); // what the companion searches by default
    QTest::addColumn<QList<int>>("window"); // the window's adapters by index; 0: the system's choice
    QTest::newRow("one Ethernet beside loopback")
        << "lo up mc lo, eth0 up mc" << QStringList { "eth0" } << QList<int> { 2 };
    QTest::newRow("Wi-Fi and a cable")
        << "lo up mc lo, wlan0 up mc, eth0 up mc" << QStringList { "wlan0", "eth0" } << QList<int> { 2, 3 };
    QTest::newRow("loopback only: the system's choice")
        << "lo up mc lo" << QStringList { "lo" } << QList<int> { 0 };
    QTest::newRow("a cable unplugged")
        << "lo up mc lo, eth0 mc, wlan0 up mc" << QStringList { "wlan0" } << QList<int> { 3 };
    QTest::newRow("no multicast") << "lo up mc lo, eth0 up, eth1 up mc" << QStringList { "eth1" }
                                  << QList<int> { 3 };
    QTest::newRow("a VPN tunnel left out")
        << "lo up mc lo, tun0 up mc p2p, eth0 up mc" << QStringList { "eth0" } << QList<int> { 3 };
    QTest::newRow("a Windows VPN adapter left out")
        << "lo up mc lo, tap up mc tunnel, eth0 up mc" << QStringList { "eth0" } << QList<int> { 3 };
    QTest::newRow("only a Windows VPN adapter: loopback")
        << "lo up mc lo, tap up mc tunnel" << QStringList { "lo" } << QList<int> { 0 };
    QTest::newRow("only a tunnel: loopback")
        << "lo up mc lo, tun0 up mc p2p" << QStringList { "lo" } << QList<int> { 0 };
    QTest::newRow("nothing up") << "lo mc lo, eth0 mc" << QStringList {} << QList<int> { 0 };
    QTest::newRow("twenty adapters") << "lo up mc lo, e1 up mc, e2 up mc, e3 up mc, e4 up mc, e5 up mc, "
                                        "e6 up mc, e7 up mc, e8 up mc, e9 up mc, e10 up mc, e11 up mc, "
                                        "e12 up mc, e13 up mc, e14 up mc, e15 up mc, e16 up mc, e17 up mc, "
                                        "e18 up mc, e19 up mc, e20 up mc"
                                     << QStringList { "e1", "e2", "e3", "e4", "e5", "e6", "e7", "e8", "e9",
                                            "e10", "e11", "e12", "e13", "e14", "e15", "e16", "e17", "e18",
                                            "e19", "e20" }
                                     << QList<int> { 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17,
                                            18, 19, 20, 21 };
}

void TestAdapters::searchedByDefault()
{
    QFETCH(QString, system);
    QFETCH(QStringList, searched);
    QFETCH(QList<int>, window);
    QList<InterfaceInfo> list = adapters(system);
    MarkDefaultInterfaces(&list);
    QStringList names;
    for (const InterfaceInfo& info : list) {
        if (info.byDefault)
            names << info.name;
    }
    QCOMPARE(names, searched);
    const std::vector<GroupAdapter> chosen = GroupAdapters(list);
    QCOMPARE(indexes(chosen), window);
    for (const GroupAdapter& a : chosen) {
        const QHostAddress expected
            = a.index == 0 ? QHostAddress(QHostAddress::AnyIPv4) : list[a.index - 1].address;
        QCOMPARE(QHostAddress(ntohl(a.address)), expected);
    }
}

void TestAdapters::membershipChanges_data()
{
    QTest::addColumn<QList<int>>("held");
    QTest::addColumn<QList<int>>("wanted");
    QTest::addColumn<QList<int>>("join");
    QTest::addColumn<QList<int>>("drop");
    QTest::newRow("at the start") << QList<int> {} << QList<int> { 2, 3 } << QList<int> { 2, 3 }
                                  << QList<int> {};
    QTest::newRow("nothing changed") << QList<int> { 2, 3 } << QList<int> { 2, 3 } << QList<int> {}
                                     << QList<int> {};
    QTest::newRow("a cable plugged in")
        << QList<int> { 2 } << QList<int> { 2, 4 } << QList<int> { 4 } << QList<int> {};
    QTest::newRow("a VPN gone") << QList<int> { 2, 5 } << QList<int> { 2 } << QList<int> {}
                                << QList<int> { 5 };
    QTest::newRow("from the system's choice to an adapter")
        << QList<int> { 0 } << QList<int> { 2 } << QList<int> { 2 } << QList<int> { 0 };
    QTest::newRow("the last adapter gone")
        << QList<int> { 2 } << QList<int> { 0 } << QList<int> { 0 } << QList<int> { 2 };
}

void TestAdapters::membershipChanges()
{
    QFETCH(QList<int>, held);
    QFETCH(QList<int>, wanted);
    QFETCH(QList<int>, join);
    QFETCH(QList<int>, drop);
    const auto list = [](const QList<int>& ids) {
        std::vector<GroupAdapter> out;
        for (int i : ids)
            out.push_back(group({ i }).front());
        return out;
    };
    const MembershipChanges changes = CompareMemberships(list(held), list(wanted));
    QCOMPARE(indexes(changes.join), join);
    QCOMPARE(indexes(changes.drop), drop);
    // An adapter whose address changed is still the one joined.
    std::vector<GroupAdapter> moved = list(held);
    for (GroupAdapter& a : moved)
        a.address ^= htonl(0xff);
    QCOMPARE(indexes(CompareMemberships(moved, list(wanted)).join), join);
}

void TestAdapters::commandAdapter_data()
{
    QTest::addColumn<int>("answeredOn");
    QTest::addColumn<QList<int>>("by");
    QTest::newRow("the adapter it answered on") << 3 << QList<int> { 3 };
    QTest::newRow("unknown: every adapter") << 0 << QList<int> { 2, 3, 4 };
    QTest::newRow("gone since: every adapter") << 7 << QList<int> { 2, 3, 4 };
}

void TestAdapters::commandAdapter()
{
    QFETCH(int, answeredOn);
    QFETCH(QList<int>, by);
    QCOMPARE(indexes(CommandAdapters(answeredOn, group({ 2, 3, 4 }))), by);
    // With loopback only, every command takes the routed send.
    QCOMPARE(indexes(CommandAdapters(answeredOn, group({ 0 }))), QList<int> { 0 });
}

void TestAdapters::windowsTunnel_data()
{
    // As GetAdaptersAddresses lists them: IfType, TunnelType, Description.
    QTest::addColumn<unsigned>("ifType");
    QTest::addColumn<unsigned>("tunnelType");
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("tunnel");
    QTest::newRow("Ethernet") << 6u << 0u << "Intel(R) Ethernet Connection (7) I219-V" << false;
    QTest::newRow("Wi-Fi") << 71u << 0u << "Intel(R) Wi-Fi 6 AX201 160MHz" << false;
    QTest::newRow("USB Ethernet") << 6u << 0u << "Realtek USB GbE Family Controller" << false;
    QTest::newRow("Hyper-V and WSL") << 6u << 0u << "Hyper-V Virtual Ethernet Adapter" << false;
    QTest::newRow("VirtualBox host-only") << 6u << 0u << "VirtualBox Host-Only Ethernet Adapter" << false;
    QTest::newRow("loopback") << 24u << 0u << "Software Loopback Interface 1" << false;
    QTest::newRow("PPP") << 23u << 0u << "WAN Miniport (PPPOE)" << true;
    QTest::newRow("tunnel interface type") << 131u << 14u << "Microsoft Teredo Tunneling Adapter" << true;
    QTest::newRow("a tunnel type alone") << 6u << 1u << "Some Adapter" << true;
    QTest::newRow("TAP-Windows") << 6u << 0u << "TAP-Windows Adapter V9" << true;
    QTest::newRow("TAP-Win32, the older one") << 6u << 0u << "TAP-Win32 Adapter V9 #2" << true;
    QTest::newRow("Wintun") << 53u << 0u << "Wintun Userspace Tunnel" << true;
    QTest::newRow("WireGuard") << 53u << 0u << "WireGuard Tunnel #3" << true;
    QTest::newRow("an SSL VPN adapter") << 6u << 0u << "Fortinet SSL VPN Virtual Ethernet Adapter" << true;
    QTest::newRow("any case") << 6u << 0u << "openvpn data channel offload" << true;
    QTest::newRow("Virtual Private Network") << 6u << 0u << "Example Virtual Private Network Adapter" << true;
}

void TestAdapters::windowsTunnel()
{
    QFETCH(unsigned, ifType);
    QFETCH(unsigned, tunnelType);
    QFETCH(QString, description);
    QFETCH(bool, tunnel);
    QCOMPARE(IsTunnelAdapter(ifType, tunnelType, description), tunnel);
}

QTEST_APPLESS_MAIN(TestAdapters)
#include "tst_adapters.moc"
