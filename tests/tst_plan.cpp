// What assign decides without the network: the plan file and the range, each refusal with
// its line and message, and the steps that weigh the search's answers.
#include "addressrules.h"
#include "assign.h"
#include "plan.h"
#include "planmatch.h"

#include <QtTest>

#include <random>

Q_DECLARE_METATYPE(AddressVerdict)

Q_DECLARE_METATYPE(Entry)

namespace {
const QByteArray kHead = "sn,ip,mask,gateway\n";
const QByteArray kFirst = "SN0001,192.168.1.20,255.255.255.0,192.168.1.1\n";

// An assignment as one line of text: "SN ip/mask gw G line N".
QStringList described(const QList<Assignment>& plan)
{
    QStringList lines;
    for (const Assignment& a : plan)
        lines << QStringLiteral("%1 %2/%3 gw %4 line %5")
                     .arg(a.sn, AddressText(a.ip), AddressText(a.mask), AddressText(a.gateway))
                     .arg(a.line);
    return lines;
}

bool readPlan(const QByteArray& bytes, const QString& mask, const QString& gateway, QList<Assignment>* plan,
    PlanError* error, const TextEncoding& encoding = {})
{
    return ReadPlan(bytes, encoding, mask, gateway, plan, error) && CheckAssignments(*plan, error);
}

// Text as Excel's "Unicode Text" saves it: UTF-16 with its byte-order mark.
QByteArray utf16(const QString& text, bool littleEndian = true)
{
    QByteArray bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (const QChar c : text) {
        const char low = char(c.unicode() & 0xFF), high = char(c.unicode() >> 8);
        bytes += littleEndian ? low : high;
        bytes += littleEndian ? high : low;
    }
    return bytes;
}

const QString kNotUtf8 = "not UTF-8 text: save it as \"CSV UTF-8\", or give its encoding with --encoding "
                         "(GB18030, windows-1252, for example)";

QString noColumn(const QString& column, const QString& names)
{
    return QStringLiteral("no %1 column; the header row must name sn and ip (%1 may be headed %2, in any "
                          "case, with or without blanks, - and _)")
        .arg(column, names);
}

bool readRange(
    const QStringList& texts, const QStringList& serials, QList<Assignment>* plan, PlanError* error)
{
    AddressRange range;
    return ReadAddressRange(texts.value(0), texts.value(1), texts.value(2), texts.value(3), &range, error)
        && RangeAssignments(range, serials, plan, error) && CheckAssignments(*plan, error);
}

Entry answer(const QString& sn, const QString& ip, bool configurable, const QString& iface = "eth0")
{
    Entry e;
    e.device.kind = configurable ? AnswerKind::Reply : AnswerKind::Announcement;
    e.device.sn = sn;
    e.device.ip = ip;
    e.device.configurable = configurable;
    e.interfaceName = iface;
    return e;
}
}

class TestPlan : public QObject {
    Q_OBJECT
private slots:
    void planRefusals_data();
    void planRefusals();
    void planReadsWhatPeopleWrite_data();
    void planReadsWhatPeopleWrite();
    void planAsSpreadsheetsSaveIt_data();
    void planAsSpreadsheetsSaveIt();
    void rangeRefusals_data();
    void rangeRefusals();
    void rangeGivesConsecutiveAddresses();
    void checkAgainstSearch_data();
    void checkAgainstSearch();
    void checkLines_data();
    void checkLines();
    void confirmation_data();
    void confirmation();
};

void TestPlan::planRefusals_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QString>("mask"); // --mask; the default of an empty cell
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("message");
    const QString m = "255.255.255.0";
    QTest::newRow("bad address") << kHead + kFirst + "SN0002,192.168.1.x,,\n"
                                 << m << "" << 3
                                 << "ip '192.168.1.x' is not a plain dotted IPv4 address: octet x is not a "
                                    "decimal number";
    QTest::newRow("octet 256") << kHead + "SN0001,192.168.1.256,,\n"
                               << m << "" << 2
                               << "ip '192.168.1.256' is not a plain dotted IPv4 address: octet 256 is not 0 "
                                  "to 255";
    QTest::newRow("leading zero") << kHead + kFirst + "SN0002,192.168.1.021,,\n"
                                  << m << "" << 3
                                  << "ip '192.168.1.021' is not a plain dotted IPv4 address: octet 021 has a "
                                     "leading zero";
    QTest::newRow("duplicate serial number")
        << kHead + kFirst + "\"SN0001\",192.168.1.21,,\n"
        << m << "" << 3 << "serial number SN0001 appears twice (also on line 2)";
    QTest::newRow("duplicate address")
        << kHead + kFirst + "SN0002,192.168.1.20,,\n"
        << m << "" << 3 << "address 192.168.1.20 appears twice (also for SN0001 on line 2)";
    QTest::newRow("gateway outside the subnet")
        << kHead + kFirst + "SN0002,192.168.1.21,,192.168.2.1\n"
        << m << "" << 3 << "gateway 192.168.2.1 is outside 192.168.1.21's subnet 192.168.1.0/24";
    QTest::newRow("non-contiguous mask") << kHead + "SN0001,192.168.1.20,255.0.255.0,\n"
                                         << m << "" << 2 << "mask 255.0.255.0 is not contiguous";
    QTest::newRow("network address") << kHead + kFirst
            + "SN0002,192.168.1.128,255.255.255.128,192.168.1.129\n"
                                     << m << "" << 3
                                     << "192.168.1.128 is the network address of 192.168.1.128/25";
    QTest::newRow("broadcast address")
        << kHead + "SN0001,192.168.1.127,255.255.255.128,\n"
        << m << "" << 2 << "192.168.1.127 is the broadcast address of 192.168.1.0/25";
    QTest::newRow("no sn column") << QByteArray("\xEF\xBB\xBFip,mask\r\n192.168.1.20,255.255.255.0\r\n") << m
                                  << "" << 1 << noColumn("sn", "sn, serial, serial number or 序列号");
    QTest::newRow("empty file") << QByteArray() << m << "" << 1
                                << "the file is empty; its first line must name the columns sn and ip";
    QTest::newRow("command too long for a frame")
        << kHead + QByteArray(1400, 'S') + ",192.168.1.20,,\n"
        << m << "" << 2
        << "the command for serial number " + QString(40, 'S') + "... does not fit in one frame";
    std::mt19937 random(11);
    QByteArray noise(10 * 1000 * 1000, Qt::Uninitialized);
    for (char& c : noise)
        c = char(random());
    // Its first line end comes before its first NUL.
    QTest::newRow("10 MB of random bytes") << noise << m << "" << 1 << kNotUtf8;

    QTest::newRow("NUL byte") << QByteArray("sn,ip\nA,192.168.1.20\nB") + '\0' + ",192.168.1.21\n"
                              << m << "" << 3 << "a NUL byte: this is not a text file";
    QTest::newRow("bad UTF-8") << QByteArray("sn,ip\nA\xff,192.168.1.20\n") << m << "" << 2 << kNotUtf8;
    QTest::newRow("UTF-8 cut at the end") << QByteArray("sn,ip\nA,1\xc3") << m << "" << 2 << kNotUtf8;
    QTest::newRow("blank lines alone") << QByteArray("\n  \r\n\t\n") << m << "" << 1
                                       << "no header row; the first line must name the columns sn and ip";
    QTest::newRow("byte-order mark alone") << QByteArray("\xEF\xBB\xBF") << m << "" << 1
                                           << "no header row; the first line must name the columns sn and ip";
    QTest::newRow("quote inside a field") << QByteArray("sn,ip\nS\"N,192.168.1.20\n") << m << "" << 2
                                          << "sn: a quote inside a field that does not start with one";
    QTest::newRow("text after a closing quote") << QByteArray("sn,ip\n\"SN\"x,192.168.1.20\n") << m << "" << 2
                                                << "sn: text after the closing quote of a field";
    QTest::newRow("quote never closed: where it opens")
        << QByteArray("sn,ip\nA,192.168.1.20\n\"B,192.168.1.21\nC,192.168.1.22\n") << m << "" << 3
        << "a quoted field is never closed";
    QTest::newRow("column twice") << QByteArray("Serial,ip, SN\n") << m << "" << 1
                                  << "column sn appears twice ('Serial' and 'SN')";
    QTest::newRow("no ip column") << QByteArray("sn,address\nA,192.168.1.20\n") << m << "" << 1
                                  << noColumn("ip", "ip, IP address, new IP or IP地址");
    QTest::newRow("header after blank lines, no device")
        << QByteArray("\n\nsn,ip\n\n") << m << "" << 3 << "a header row and no device";
    QTest::newRow("announcements only") << QByteArray("kind,sn,ip\nannounce,A,10.0.0.5\n") << m << "" << 1
                                        << "every row is of kind announce: no device to set";
    QTest::newRow("more fields than the header")
        << QByteArray("sn,ip\nA,192.168.1.20,,x\n") << m << "" << 2 << "4 fields, but the header row has 2";
    QTest::newRow("line of a record after a quoted line end")
        << QByteArray("sn,ip\n\"A\nB\",192.168.1.20\nC,192.168.1.x\n") << m << "" << 4
        << "ip '192.168.1.x' is not a plain dotted IPv4 address: octet x is not a decimal number";
    QTest::newRow("empty sn") << QByteArray("sn,ip\n  ,192.168.1.20\n") << m << "" << 2 << "empty sn";
    QTest::newRow("empty ip") << QByteArray("sn,ip\nA,\n") << m << "" << 2 << "empty ip";
    QTest::newRow("no mask anywhere") << QByteArray("sn,ip\nA,192.168.1.20\n") << ""
                                      << "" << 2 << "no mask: the mask cell is empty and --mask is not given";
    QTest::newRow("bad --mask, on the first row that needs it")
        << QByteArray("sn,ip,mask\nA,192.168.1.20,255.255.255.0\nB,192.168.1.21,\n") << "255.255.0"
        << "" << 3 << "mask '255.255.0' is not a plain dotted IPv4 address: not four octets";
    QTest::newRow("bad --gateway") << QByteArray("sn,ip\nA,192.168.1.20\n") << m << "192.168.1.1.1" << 2
                                   << "gateway '192.168.1.1.1' is not a plain dotted IPv4 address: not four "
                                      "octets";
    QTest::newRow("control characters escaped")
        << QByteArray("ip,sn\nSN\x1b[2J,192.168.1.40\n") << m << "" << 2
        << "ip 'SN\\x1b[2J' is not a plain dotted IPv4 address: not four octets";
    QTest::newRow("control character in the reason escaped")
        << QByteArray("sn,ip\nB,192.168.1.\x07\n") << m << "" << 2
        << "ip '192.168.1.\\x07' is not a plain dotted IPv4 address: octet \\x07 is not a decimal number";
    QTest::newRow("long cell cut") << "sn,ip\nA," + QByteArray(100, '9') + "\n"
                                   << m << "" << 2
                                   << "ip '" + QString(64, '9')
            + "' is not a plain dotted IPv4 address: not four "
              "octets";
    QTest::newRow("mask 0.0.0.0") << QByteArray("sn,ip,mask\nA,192.168.1.20,0.0.0.0\n") << m << "" << 2
                                  << "mask 0.0.0.0 leaves no network";
    QTest::newRow("loopback address")
        << QByteArray("sn,ip,mask\nA,127.0.0.5,255.0.0.0\n") << m << "" << 2
        << "127.0.0.5 cannot be a device's address (0.x.x.x, loopback, multicast "
           "or reserved)";
    QTest::newRow("multicast gateway")
        << QByteArray("sn,ip,gateway\nA,192.168.1.20,224.0.0.1\n") << m << "" << 2
        << "gateway 224.0.0.1 cannot be a gateway (0.x.x.x, loopback, multicast or "
           "reserved)";
    QTest::newRow("gateway is the address")
        << QByteArray("sn,ip,gateway\nA,192.168.1.20,192.168.1.20\n") << m << "" << 2
        << "gateway 192.168.1.20 is the device's own new address";
    QTest::newRow("gateway is the broadcast address")
        << QByteArray("sn,ip,gateway\nA,192.168.1.20,192.168.1.255\n") << m << "" << 2
        << "gateway 192.168.1.255 is the network or broadcast address of 192.168.1.0/24";
}

void TestPlan::planRefusals()
{
    QFETCH(QByteArray, plan);
    QFETCH(QString, mask);
    QFETCH(QString, gateway);
    QFETCH(int, line);
    QFETCH(QString, message);
    QList<Assignment> assignments;
    PlanError error;
    QVERIFY(!readPlan(plan, mask, gateway, &assignments, &error));
    QCOMPARE(error.text, message);
    QCOMPARE(error.line, line);
}

void TestPlan::planReadsWhatPeopleWrite_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("mark, CRLF, any column order and case, quotes, blanks, empty cells")
        << QByteArray("\xEF\xBB\xBF Gateway ,note,IP,Sn,mask\r\n\r\n"
                      "192.168.1.1,\"a, \"\"b\"\"\", 192.168.1.20 ,\" SN1 \",\r\n"
                      ",x,192.168.1.21,SN2,255.255.0.0\r\n"
                      "  ,\"two\r\nlines\",192.168.1.22,\"SN\n3\",\r\n"
                      ",,192.168.1.23,SN4,")
        << ""
        << QStringList { "SN1 192.168.1.20/255.255.255.0 gw 192.168.1.1 line 3",
               "SN2 192.168.1.21/255.255.0.0 gw 192.168.1.1 line 4",
               "SN\n3 192.168.1.22/255.255.255.0 gw 192.168.1.1 line 5",
               "SN4 192.168.1.23/255.255.255.0 gw 192.168.1.1 line 8" };
    QTest::newRow("--gateway where the cell is empty; LF line ends")
        << QByteArray("sn,ip,gateway\nA,10.0.0.20,\nB,10.0.0.21,10.0.0.1\n") << "10.0.0.254"
        << QStringList { "A 10.0.0.20/255.255.255.0 gw 10.0.0.254 line 2",
               "B 10.0.0.21/255.255.255.0 gw 10.0.0.1 line 3" };
    // The window's list names every answer: a device's announcement repeats its reply.
    QTest::newRow("a search's list: announcements left out")
        << QByteArray("kind,name,ip,sn,id,configurable,from,interface\n"
                      "reply,Cam,10.0.0.20,A,M1,true,,eth0\nannounce,,10.0.0.5,A,M1,false,,eth0\n"
                      "announce,,10.0.0.6,B,M1,false,,eth0\n")
        << "" << QStringList { "A 10.0.0.20/255.255.255.0 gw 10.0.0.1 line 2" };
}

void TestPlan::planReadsWhatPeopleWrite()
{
    QFETCH(QByteArray, plan);
    QFETCH(QString, gateway);
    QFETCH(QStringList, expected);
    QList<Assignment> assignments;
    PlanError error;
    QVERIFY2(readPlan(plan, "255.255.255.0", gateway, &assignments, &error), qPrintable(error.text));
    QCOMPARE(described(assignments), expected);
}

void TestPlan::planAsSpreadsheetsSaveIt_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QByteArray>("encoding"); // --encoding
    QTest::addColumn<QByteArray>("fallback"); // the system's code page
    QTest::addColumn<QStringList>("expected"); // the plan, or "refused: line N: why"
    const QByteArray none;
    const QString a20 = "192.168.1.20/255.255.255.0 gw 192.168.1.1 line ";
    QTest::newRow("semicolons, as where the list separator is one")
        << QByteArray("sn;ip;mask\r\nA;192.168.1.20;\r\nB;192.168.1.21;255.255.0.0\r\n") << none << none
        << QStringList { "A " + a20 + "2", "B 192.168.1.21/255.255.0.0 gw 192.168.1.1 line 3" };
    QTest::newRow("sep= line, quoted header, a comma in a cell")
        << QByteArray("\xEF\xBB\xBFsep=;;\r\n\"SN\";\"IP Address\"\r\n\"A,1\";192.168.1.20\r\n") << none
        << none << QStringList { "A,1 " + a20 + "3" };
    QTest::newRow("tabs in UTF-16LE with a mark, the window's column names")
        << utf16(QStringLiteral("序列号\tIP地址\t子网掩码\t网关地址\r\n甲\t192.168.1.20\t255.255.255.0\t"
                                "192.168.1.254\r\n"))
        << none << none << QStringList { "甲 192.168.1.20/255.255.255.0 gw 192.168.1.254 line 2" };
    QTest::newRow("UTF-16BE with a mark")
        << utf16("sn,ip\nA,192.168.1.20\n", false) << none << none << QStringList { "A " + a20 + "2" };
    // 序列号, IP地址, 备注 and a name with é and an emoji, which take four bytes each.
    const QByteArray gb18030 = "\xd0\xf2\xc1\xd0\xba\xc5\x09IP\xb5\xd8\xd6\xb7\x09\xb1\xb8\xd7\xa2\x0d\x0a"
                               "\xbc\xd7"
                               "1\x09"
                               "192.168.1.20\x09\xd6\xd0\xce\xc4\xc3\xfb \xa8\xa6\x94"
                               "9\xfc"
                               "6\x0d\x0a";
    QTest::newRow("GB18030 with --encoding")
        << gb18030 << QByteArray("GB18030") << none << QStringList { "甲1 " + a20 + "2" };
    const QByteArray gbk = "sn,ip,\xb1\xb8\xd7\xa2\r\nA,192.168.1.20,\xd6\xd0\xce\xc4\xc3\xfb\r\n";
    QTest::newRow("GBK in the system's code page")
        << gbk << none << QByteArray("GBK") << QStringList { "A " + a20 + "2" };
    QTest::newRow("windows-1252 with --encoding")
        << QByteArray("sn;ip;Name\r\nM\xfc"
                      "1;192.168.1.20;Caf\xe9\r\n")
        << QByteArray("windows-1252") << none << QStringList { "Mü1 " + a20 + "2" };
    QTest::newRow("the names people write")
        << QByteArray(
               "Serial Number,IP-Address,Subnet_Mask,Default Gateway\nA,10.0.0.20,255.0.0.0,10.0.0.254\n")
        << none << none << QStringList { "A 10.0.0.20/255.0.0.0 gw 10.0.0.254 line 2" };
    QTest::newRow("other names, in another order")
        << QByteArray(" serial ,NETMASK, New IP ,gw\nB,,10.0.0.21,\n") << none << none
        << QStringList { "B 10.0.0.21/255.255.255.0 gw 10.0.0.1 line 2" };
    QTest::newRow("a search's CSV with a new ip column: the old ip is not the plan's")
        << QByteArray(
               "kind,name,ip,sn,id,configurable,from,interface,New IP\r\n"
               "reply,Device-01,192.168.1.101,SN0001,ID0001,true,192.168.1.101:8839,eth0,192.168.1.20\r\n")
        << none << none << QStringList { "SN0001 " + a20 + "2" };
    QTest::newRow("an unused column holds anything")
        << "sn,note,ip\r\nA,\"=HYPERLINK(\"\"http://x/?\"\"&A1,\"\"open\"\")\",192.168.1.20\r\n"
           "B,5\" screen \"a\"b \x1b[2J"
            + QByteArray(100000, 'x') + ",192.168.1.21\r\n"
        << none << none
        << QStringList { "A " + a20 + "2", "B 192.168.1.21/255.255.255.0 gw 192.168.1.1 line 3" };
    QTest::newRow("formula guards taken off, the text's own apostrophes kept")
        << QByteArray("sn,ip\r\n'=SN1,192.168.1.20\r\n\"''=SN2\",192.168.1.21\r\n'SN3,192.168.1.22\r\n"
                      "\"'-\tx \",192.168.1.23\r\n")
        << none << none
        << QStringList { "=SN1 " + a20 + "2", "'=SN2 192.168.1.21/255.255.255.0 gw 192.168.1.1 line 3",
               "'SN3 192.168.1.22/255.255.255.0 gw 192.168.1.1 line 4",
               "-\tx  192.168.1.23/255.255.255.0 gw 192.168.1.1 line 5" };
    QTest::newRow("rows short of the header, empty cells past it")
        << QByteArray("sn,ip,mask,gateway,note\r\nA,192.168.1.20\r\nB,192.168.1.21,,,,,\r\n") << none << none
        << QStringList { "A " + a20 + "2", "B 192.168.1.21/255.255.255.0 gw 192.168.1.1 line 3" };

    QTest::newRow("GBK, no encoding given")
        << gbk << none << none << QStringList { "refused: line 1: " + kNotUtf8 };
    QTest::newRow("not even the system's code page")
        << QByteArray("sn,ip\r\nA\x81 ,192.168.1.20\r\n") << none << QByteArray("GBK")
        << QStringList { "refused: line 2: neither UTF-8 nor text in the system's code page GBK: save it as "
                         "\"CSV UTF-8\", or give its encoding with --encoding (GB18030, windows-1252, for "
                         "example)" };
    QTest::newRow("not what --encoding says")
        << QByteArray("sn,ip\r\nA,1\r\nB\x81 ,192.168.1.20\r\n") << QByteArray("GB18030") << none
        << QStringList { "refused: line 3: not GB18030 text, as --encoding "
                         "says it is" };
    QTest::newRow("a UTF-16 mark, then an odd byte")
        << utf16("sn,ip\n") + 'A' << none << none
        << QStringList { "refused: line 2: not UTF-16LE text, though "
                         "it begins with the byte-order mark of "
                         "UTF-16LE" };
}

void TestPlan::planAsSpreadsheetsSaveIt()
{
    QFETCH(QByteArray, plan);
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, fallback);
    QFETCH(QStringList, expected);
    QList<Assignment> assignments;
    PlanError error;
    const bool read = readPlan(plan, "255.255.255.0", "", &assignments, &error, { encoding, fallback });
    QCOMPARE(read ? described(assignments)
                  : QStringList { QStringLiteral("refused: line %1: %2").arg(error.line).arg(error.text) },
        expected);
}

void TestPlan::rangeRefusals_data()
{
    QTest::addColumn<QStringList>("texts"); // start, end, mask, gateway
    QTest::addColumn<QStringList>("serials");
    QTest::addColumn<QString>("message");
    const QString m = "255.255.255.0";
    const QStringList one { "A" }, two { "A", "B" };
    QTest::newRow("--start") << QStringList { "192.168.1", "", m } << one
                             << "--start '192.168.1' is not a plain dotted IPv4 address: not four octets";
    QTest::newRow("--end") << QStringList { "192.168.1.20", "192.168.1.2x", m } << one
                           << "--end '192.168.1.2x' is not a plain dotted IPv4 address: octet 2x is not a "
                              "decimal number";
    QTest::newRow("--mask") << QStringList { "192.168.1.20", "", "255.255.255.00" } << one
                            << "--mask '255.255.255.00' is not a plain dotted IPv4 address: octet 00 has a "
                               "leading zero";
    QTest::newRow("--gateway")
        << QStringList { "192.168.1.20", "", m, "192.168.1.256" } << one
        << "--gateway '192.168.1.256' is not a plain dotted IPv4 address: octet 256 is "
           "not 0 to 255";
    QTest::newRow("past the last address")
        << QStringList { "255.255.255.254", "", m } << QStringList { "A", "B", "C" }
        << "3 devices from --start 255.255.255.254 run past 255.255.255.255";
    QTest::newRow("devices past the /24")
        << QStringList { "192.168.1.253", "", m } << QStringList { "A", "B", "C", "D" }
        << "4 devices from --start 192.168.1.253 end at 192.168.2.0, outside its /24";
    QTest::newRow("--end in another /24") << QStringList { "192.168.1.20", "192.168.2.5",
        m } << one << "--start 192.168.1.20 and --end 192.168.2.5 are not in the same /24";
    QTest::newRow("--start above --end") << QStringList { "192.168.1.20", "192.168.1.10", m } << one
                                         << "--start 192.168.1.20 is not below --end 192.168.1.10";
    QTest::newRow("--start ends in .255")
        << QStringList { "192.168.1.255", "", m } << one << "--start 192.168.1.255 ends in .255";
    QTest::newRow("the last address ends in .255")
        << QStringList { "192.168.1.254", "", m } << two << "the last address 192.168.1.255 ends in .255";
    QTest::newRow("--end ends in .255")
        << QStringList { "192.168.1.20", "192.168.1.255", m } << one << "--end 192.168.1.255 ends in .255";
    QTest::newRow("too few addresses")
        << QStringList { "192.168.1.20", "192.168.1.21", m } << QStringList { "A", "B", "C" }
        << "the range 192.168.1.20 to 192.168.1.21 holds 2 addresses, but there are "
           "3 devices";
    QTest::newRow("start and end the same, two devices") << QStringList { "192.168.1.20", "192.168.1.20",
        m } << two << "the range 192.168.1.20 to 192.168.1.20 holds 1 addresses, but there are 2 devices";
    QTest::newRow("settings name the device") << QStringList { "192.168.1.20", "", m, "192.168.2.1" } << one
                                              << "gateway 192.168.2.1 is outside 192.168.1.20's subnet "
                                                 "192.168.1.0/24 (for A)";
    QTest::newRow("network address") << QStringList { "192.168.1.0", "", m } << one
                                     << "192.168.1.0 is the network address of 192.168.1.0/24 (for A)";
    QTest::newRow("serial number twice") << QStringList { "192.168.1.20", "", m } << QStringList { "A", "A" }
                                         << "serial number A is given twice";
    QTest::newRow("serial number with a NUL")
        << QStringList { "192.168.1.20", "", m } << QStringList { QString::fromUtf8("N\0L", 3) }
        << "serial number N\\x00L holds a NUL";
    QTest::newRow("command too long for a frame")
        << QStringList { "192.168.1.20", "", m } << QStringList { QString(1400, 'S') }
        << "the command for serial number " + QString(40, 'S') + "... does not fit in one frame";
}

void TestPlan::rangeRefusals()
{
    QFETCH(QStringList, texts);
    QFETCH(QStringList, serials);
    QFETCH(QString, message);
    QList<Assignment> plan;
    PlanError error;
    QVERIFY(!readRange(texts, serials, &plan, &error));
    QCOMPARE(error.text, message);
    QCOMPARE(error.line, 0);
}

void TestPlan::rangeGivesConsecutiveAddresses()
{
    QList<Assignment> plan;
    PlanError error;
    QVERIFY(readRange({ "10.1.2.253", "", "255.255.0.0" }, { "SN3", "SN1" }, &plan, &error));
    QCOMPARE(described(plan),
        QStringList({ "SN3 10.1.2.253/255.255.0.0 gw 10.1.2.1 line 0",
            "SN1 10.1.2.254/255.255.0.0 gw 10.1.2.1 line 0" }));
    // One device: only the start counts, as in the window.
    QVERIFY(readRange({ "10.1.2.20", "10.1.2.20", "255.255.255.0", "10.1.2.254" }, { "A" }, &plan, &error));
    QCOMPARE(described(plan), QStringList({ "A 10.1.2.20/255.255.255.0 gw 10.1.2.254 line 0" }));
}

// One table for the decision and for the companion's words on it: each row's answers are
// matched against the plan, then checked as assign checks them.
void TestPlan::checkAgainstSearch_data()
{
    QTest::addColumn<QStringList>("serials"); // of the plan; "/nomask" read without a mask
    QTest::addColumn<QList<Entry>>("heard");
    QTest::addColumn<QString>("states"); // per row of the plan, then the answers not in it
    QTest::addColumn<QStringList>("lines");
    const QStringList ab { "A", "B" };
    const QList<Entry> plain { answer("A", "10.0.0.4", true), answer("B", "10.0.0.5", true) };
    QTest::newRow("every device heard once, with libver") << ab << plain << "set set;" << QStringList();
    QTest::newRow("missing, without libver, two devices with one serial number")
        << ab
        << QList<Entry> { answer("B", "10.0.0.5", false), answer("A", "10.0.0.4", true),
               answer("A", "10.0.0.9", true) }
        << "two-addresses not-configurable;"
        << QStringList { "devicesearch-cli: 2 of 2 devices cannot be assigned; nothing was sent:",
               "  A: answered by more than one device (10.0.0.4, 10.0.0.9)",
               "  B: answered without \"libver\", so it cannot be configured" };
    QTest::newRow("not found") << ab << QList<Entry> { answer("A", "10.0.0.4", true) } << "set not-found;"
                               << QStringList {
                                      "devicesearch-cli: 1 of 2 devices cannot be assigned; nothing "
                                      "was sent:",
                                      "  B: not found"
                                  };
    // Who holds a new address is the address check's to say, not this one's.
    QTest::newRow("new address held outside the plan")
        << ab << plain + QList<Entry> { answer("X", "192.168.1.21", true), answer("X", "192.168.1.21", true) }
        << "set set;2" << QStringList();
    QTest::newRow("a device outside the plan is described by its reply, not its announcement")
        << ab << plain + QList<Entry> { answer("X", "10.0.0.8", false), answer("X", "10.0.0.8", true) }
        << "set set;3" << QStringList();
    // Only a hint: the device that answered with the zeros is not in the plan and gets nothing.
    QTest::newRow("leading zeros dropped")
        << QStringList { "12345", "B" }
        << QList<Entry> { answer("0012345", "10.0.0.4", true), answer("B", "10.0.0.5", true) }
        << "not-found(0012345) set;0"
        << QStringList { "devicesearch-cli: 1 of 2 devices cannot be assigned; nothing was sent:",
               "  12345: not found; 0012345 answered: a spreadsheet dropped its leading zeros (format "
               "that column as Text, or use --format xlsx)" };
    // The companion sends where it answered first; the window leaves it to a person.
    QTest::newRow("one address on two adapters")
        << ab << plain + QList<Entry> { answer("A", "10.0.0.4", true, "eth1") } << "two-adapters set;"
        << QStringList();
    QTest::newRow("no mask, and an answer without a serial number")
        << QStringList { "A/nomask", "B" } << plain + QList<Entry> { answer("", "10.0.0.7", false) }
        << "no-mask set;2" << QStringList();
}

void TestPlan::checkAgainstSearch()
{
    QFETCH(QStringList, serials);
    QFETCH(QList<Entry>, heard);
    QFETCH(QString, states);
    QFETCH(QStringList, lines);
    QList<Assignment> plan;
    for (const QString& serial : serials) {
        Assignment a { serial.section('/', 0, 0), 0xC0A80114 + uint32_t(plan.size()), 0xFFFFFF00, 0xC0A80101,
            0 };
        a.noMask = serial.endsWith("/nomask");
        plan << a;
    }
    QList<FoundAnswer> found;
    for (const Entry& e : heard)
        found << FoundAnswer { *e.device.sn, *e.device.ip, e.interfaceName == "eth1" ? 2 : 1,
            e.device.kind == AnswerKind::Reply, e.device.configurable };
    const PlanMatch match = MatchPlan(plan, found);
    const QStringList names { "set", "not-found", "not-configurable", "two-addresses", "two-adapters",
        "no-mask" }; // in PlanState's order
    QStringList shown;
    for (const PlanLine& line : match.lines)
        shown << names.value(int(line.state))
                + (line.hint.isEmpty() ? QString() : "(" + line.hint.section(' ', 0, 0) + ")");
    QStringList others;
    for (int i : match.notInPlan)
        others << QString::number(i);
    QCOMPARE(shown.join(' ') + ';' + others.join(' '), states);

    SearchHeard search;
    for (const Entry& e : heard)
        NoteHeard(&search, e);
    QCOMPARE(CheckAgainstSearch(plan, search), lines);
}

void TestPlan::checkLines_data()
{
    QTest::addColumn<AddressVerdict>("verdict");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("check");
    const QString head = "devicesearch-cli: 10.81.1.42 for SN\\x1b2 is in use on eth1 by ";
    QTest::newRow("a host") << AddressVerdict::host("7e:9d:2e:47:c5:04") << false
                            << head + "7e:9d:2e:47:c5:04 (not a device of this search); nothing was sent"
                            << "taken";
    QTest::newRow("a host, sent anyway")
        << AddressVerdict::host("7e:9d:2e:47:c5:04") << true
        << head + "7e:9d:2e:47:c5:04 (not a device of this search); sent anyway (--allow-taken)"
        << "allowed";
    QTest::newRow("this computer") << AddressVerdict { AddressState::Taken, HolderKind::ThisComputer, {}, {},
        {} } << false << head + "this computer; nothing was sent"
                                   << "taken";
    QTest::newRow("a device of the search")
        << AddressVerdict { AddressState::Taken, HolderKind::Device, {}, "X\x1b", {} } << false
        << head + "X\\x1b, a device of this search; nothing was sent"
        << "taken";
    QTest::newRow("a device without a serial number")
        << AddressVerdict { AddressState::Taken, HolderKind::Device, {}, {}, {} } << false
        << head + "a device of this search that names no serial number; nothing was sent"
        << "taken";
    QTest::newRow("free") << AddressVerdict::free() << false << ""
                          << "free";
    QTest::newRow("unchecked") << AddressVerdict::unchecked(UncheckedReason::OffLink) << false << ""
                               << "unchecked";
}

void TestPlan::checkLines()
{
    QFETCH(AddressVerdict, verdict);
    QFETCH(bool, allowed);
    QFETCH(QString, line);
    QFETCH(QString, check);
    const Assignment a { "SN\x1b"
                         "2",
        0x0A51012A, 0xFFFFFF00, 0x0A510101, 0 };
    QCOMPARE(verdict.state == AddressState::Taken ? TakenLine(a, "eth1", verdict, allowed) : QString(), line);
    QCOMPARE(CheckText(verdict, allowed), check);
    // The unchecked ones, one line per adapter and reason.
    QCOMPARE(UncheckedLine(1, "eth1", UncheckedReason::AdapterGone),
        QString("devicesearch-cli: 1 new address on eth1 was not checked: eth1 went away during the check"));
    QVERIFY(UncheckedLine(3, "eth1", UncheckedReason::OffLink)
                .startsWith("devicesearch-cli: 3 new addresses on eth1 were not checked: they are outside "
                            "eth1's subnets"));
    QCOMPARE(UncheckedLine(1, "eth1", UncheckedReason::HolderLastSeen, 1),
        QString(
            "devicesearch-cli: 1 new address on eth1 was not checked: the system last saw a holder 1 minute "
            "ago, and none answered during the check"));
    QVERIFY(UncheckedLine(2, "eth1", UncheckedReason::HolderLastSeen, 7)
                .contains("holder 7 or more minutes ago"));
    // Without --end, skipping may run to .254 of the start's segment.
    QCOMPARE(SkipRangeLast({ 0x0A510129, std::nullopt, 0, std::nullopt }), 0x0A5101FEu);
    QCOMPARE(SkipRangeLast({ 0x0A510129, 0x0A510132u, 0, std::nullopt }), 0x0A510132u);
}

void TestPlan::confirmation_data()
{
    QTest::addColumn<QStringList>("answers"); // the addresses it answered with after its command
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("line");
    QTest::newRow("new address") << QStringList { "10.0.0.4", "192.168.1.20" } << "confirmed"
                                 << "";
    QTest::newRow("still at the old address") << QStringList { "10.0.0.4" } << "not confirmed"
                                              << "A not confirmed: it still answers at 10.0.0.4";
    QTest::newRow("no answer") << QStringList() << "not confirmed"
                               << "A not confirmed: no answer from it";
    QTest::newRow("the last third address outweighs the old one")
        << QStringList { "10.0.0.7", "10.0.0.9", "10.0.0.4" } << "other address"
        << "A answered with 10.0.0.9, not 192.168.1.20";
}

void TestPlan::confirmation()
{
    QFETCH(QStringList, answers);
    QFETCH(QString, status);
    QFETCH(QString, line);
    SearchHeard heard;
    NoteHeard(&heard, answer("A", "10.0.0.9", false)); // an announcement does not say where to send
    NoteHeard(&heard, answer("A", "10.0.0.4", true, "eth1"));
    QList<AssignRow> rows = PlannedRows({ { "A", 0xC0A80114, 0xFFFFFF00, 0xC0A80101, 0 } }, heard);
    QCOMPARE(rows.size(), 1);
    AssignRow& row = rows.first();
    QCOMPARE(row.oldIp, std::optional<QString>("10.0.0.4"));
    QCOMPARE(row.interfaceName, QStringLiteral("eth1"));
    QVERIFY(!NoteAnswerAfterCommand(&row, "192.168.1.20", 100)); // not sent yet
    row.status = AssignStatus::Sent;
    row.sentMs = 1000;
    for (const QString& ip : answers)
        QCOMPARE(NoteAnswerAfterCommand(&row, ip, 1250), ip == "192.168.1.20");
    const QString said = row.status == AssignStatus::Sent ? SettleUnconfirmed(&row) : QString();
    QCOMPARE(AssignStatusText(row.status), status);
    QCOMPARE(said, line);
    QCOMPARE(row.seconds, status == "confirmed" ? std::optional<double>(0.25) : std::nullopt);
}

QTEST_GUILESS_MAIN(TestPlan)
#include "tst_plan.moc"
