// The address rules the window's set button and the command line share, on numbers and
// texts alone.
#include "addressrules.h"

#include <QtTest>

class TestAddressRules : public QObject {
    Q_OBJECT
private slots:
    void dottedAddress_data();
    void dottedAddress();
    void addressRange_data();
    void addressRange();
    void maskPrefix_data();
    void maskPrefix();
    void networkSettings_data();
    void networkSettings();
    void defaultGateway_data();
    void defaultGateway();
};

void TestAddressRules::dottedAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("value");
    QTest::addColumn<QString>("problem"); // empty: accepted
    QTest::newRow("plain") << "192.168.1.20" << 0xC0A80114u << "";
    QTest::newRow("zeros") << "0.0.0.0" << 0u << "";
    QTest::newRow("all ones") << "255.255.255.255" << 0xFFFFFFFFu << "";
    QTest::newRow("three octets") << "1.2.3" << 0u << "not four octets";
    QTest::newRow("five octets") << "1.2.3.4.5" << 0u << "not four octets";
    QTest::newRow("empty text") << "" << 0u << "not four octets";
    QTest::newRow("empty octet") << "1..3.4" << 0u << "an empty octet";
    QTest::newRow("256") << "1.2.3.256" << 0u << "octet 256 is not 0 to 255";
    QTest::newRow("four digits") << "1.2.3.0255" << 0u << "octet 0255 is not 0 to 255";
    QTest::newRow("sign") << "1.2.3.+4" << 0u << "octet +4 is not a decimal number";
    QTest::newRow("trailing blank") << "1.2.3.4 " << 0u << "octet 4  is not a decimal number";
    QTest::newRow("hex") << "0x1.2.3.4" << 0u << "octet 0x1 is not a decimal number";
    QTest::newRow("digit of another script") << QString::fromUtf8("1.2.3.\u0663") << 0u
                                             << QString::fromUtf8("octet \u0663 is not a decimal number");
    QTest::newRow("leading zero") << "10.01.1.1" << 0u << "octet 01 has a leading zero";
}

void TestAddressRules::dottedAddress()
{
    QFETCH(QString, text);
    QFETCH(uint, value);
    QFETCH(QString, problem);
    uint32_t address = 7;
    QCOMPARE(DottedAddressProblem(text, &address), problem);
    if (!problem.isEmpty()) {
        QCOMPARE(address, 7u); // untouched
        return;
    }
    QCOMPARE(address, value);
    // Only one text per address passes, so a message may show the number as the text.
    QCOMPARE(AddressText(address), text);
}

void TestAddressRules::addressRange_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("several");
    QTest::addColumn<int>("problem");
    const int none = int(RangeProblem::None), segment = int(RangeProblem::DifferentSegment),
              order = int(RangeProblem::StartNotBelowEnd), last255 = int(RangeProblem::LastOctet255);
    QTest::newRow("one /24, rising") << "192.168.1.20"
                                     << "192.168.1.30" << true << none;
    QTest::newRow("the next /24") << "192.168.1.20"
                                  << "192.168.2.5" << true << segment;
    QTest::newRow("another first octet") << "10.1.1.20"
                                         << "11.1.1.30" << true << segment;
    QTest::newRow("the segment before .255") << "192.168.1.255"
                                             << "192.168.2.255" << true << segment;
    QTest::newRow("start equals end") << "192.168.1.20"
                                      << "192.168.1.20" << true << order;
    QTest::newRow("falling") << "192.168.1.30"
                             << "192.168.1.20" << true << order;
    QTest::newRow("end .255") << "192.168.1.20"
                              << "192.168.1.255" << true << last255;
    QTest::newRow("one device at .255") << "192.168.1.255"
                                        << "0.0.0.0" << false << last255;
    QTest::newRow("one device: end ignored") << "192.168.1.20"
                                             << "10.0.0.0" << false << none;
}

void TestAddressRules::addressRange()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(bool, several);
    QFETCH(int, problem);
    QCOMPARE(int(CheckAddressRange(AddressFromText(start), AddressFromText(end), several)), problem);
}

void TestAddressRules::maskPrefix_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("prefix");
    QTest::newRow("/24") << "255.255.255.0" << 24;
    QTest::newRow("/0") << "0.0.0.0" << 0;
    QTest::newRow("/1") << "128.0.0.0" << 1;
    QTest::newRow("/31") << "255.255.255.254" << 31;
    QTest::newRow("/32") << "255.255.255.255" << 32;
    QTest::newRow("a hole") << "255.0.255.0" << -1;
    QTest::newRow("ones at the bottom") << "0.0.0.255" << -1;
    QTest::newRow("one bit off at the end") << "255.255.255.253" << -1;
}

void TestAddressRules::maskPrefix()
{
    QFETCH(QString, mask);
    QFETCH(int, prefix);
    QCOMPARE(MaskPrefix(AddressFromText(mask)), prefix);
}

void TestAddressRules::networkSettings_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<int>("problem");
    const QString m = "255.255.255.0";
    QTest::newRow("good") << "192.168.1.20" << m << "192.168.1.1" << int(SettingsProblem::None);
    QTest::newRow("mask with a hole, before all else")
        << "127.0.0.1"
        << "255.0.255.0"
        << "0.0.0.0" << int(SettingsProblem::MaskNotContiguous);
    QTest::newRow("mask 0.0.0.0") << "192.168.1.20"
                                  << "0.0.0.0"
                                  << "192.168.1.1" << int(SettingsProblem::MaskEmpty);
    QTest::newRow("this network") << "0.1.2.3"
                                  << "255.0.0.0"
                                  << "0.1.2.1" << int(SettingsProblem::AddressNotUnicast);
    QTest::newRow("loopback") << "127.0.0.2"
                              << "255.0.0.0"
                              << "127.0.0.1" << int(SettingsProblem::AddressNotUnicast);
    QTest::newRow("multicast") << "224.0.0.5" << m << "192.168.1.1"
                               << int(SettingsProblem::AddressNotUnicast);
    QTest::newRow("reserved") << "240.0.0.5" << m << "192.168.1.1" << int(SettingsProblem::AddressNotUnicast);
    QTest::newRow("network address") << "192.168.1.0" << m << "192.168.1.1"
                                     << int(SettingsProblem::NetworkAddress);
    QTest::newRow("broadcast address")
        << "192.168.1.255" << m << "192.168.1.1" << int(SettingsProblem::BroadcastAddress);
    QTest::newRow("/31 low") << "192.168.1.20"
                             << "255.255.255.254"
                             << "192.168.1.21" << int(SettingsProblem::NetworkAddress);
    QTest::newRow("/31 high") << "192.168.1.21"
                              << "255.255.255.254"
                              << "192.168.1.20" << int(SettingsProblem::BroadcastAddress);
    QTest::newRow("/32") << "192.168.1.20"
                         << "255.255.255.255"
                         << "192.168.1.20" << int(SettingsProblem::NetworkAddress);
    QTest::newRow("gateway 0.0.0.0") << "192.168.1.20" << m << "0.0.0.0"
                                     << int(SettingsProblem::GatewayNotUnicast);
    QTest::newRow("gateway outside") << "192.168.1.20" << m << "192.168.2.1"
                                     << int(SettingsProblem::GatewayOutsideSubnet);
    QTest::newRow("gateway is the address")
        << "192.168.1.20" << m << "192.168.1.20" << int(SettingsProblem::GatewayIsAddress);
    QTest::newRow("gateway is the network address")
        << "192.168.1.20" << m << "192.168.1.0" << int(SettingsProblem::GatewayNetworkOrBroadcast);
    QTest::newRow("gateway is the broadcast address")
        << "10.1.2.3"
        << "255.255.0.0"
        << "10.1.255.255" << int(SettingsProblem::GatewayNetworkOrBroadcast);
}

void TestAddressRules::networkSettings()
{
    QFETCH(QString, address);
    QFETCH(QString, mask);
    QFETCH(QString, gateway);
    QFETCH(int, problem);
    QCOMPARE(
        int(CheckNetworkSettings(AddressFromText(address), AddressFromText(mask), AddressFromText(gateway))),
        problem);
}

void TestAddressRules::defaultGateway_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("gateway");
    QTest::newRow("a /24 address") << "192.168.1.20"
                                   << "192.168.1.1";
    QTest::newRow("already .1") << "10.0.0.1"
                                << "10.0.0.1";
    QTest::newRow(".255") << "10.0.7.255"
                          << "10.0.7.1";
}

void TestAddressRules::defaultGateway()
{
    QFETCH(QString, address);
    QFETCH(QString, gateway);
    // The window works on the text, the command line on the number: both must agree.
    QCOMPARE(DefaultGateway(address), gateway);
    QCOMPARE(AddressText(DefaultGatewayAddress(AddressFromText(address))), gateway);
}

QTEST_GUILESS_MAIN(TestAddressRules)
#include "tst_addressrules.moc"
