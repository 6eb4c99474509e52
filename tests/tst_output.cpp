// The command line's output as plain functions: search's entries and assign's rows in each
// format, hostile texts read back from the machine formats, and search's summary.
#include "addressrules.h"
#include "assignlog.h"
#include "copiedrows.h"
#include "csvreader.h"
#include "csvrecords.h"
#include "output.h"
#include "searchcommand.h"

#include <QtTest>

namespace {
Entry entry(AnswerKind kind, std::optional<QString> name, std::optional<QString> ip,
    std::optional<QString> sn, std::optional<QString> id, bool configurable, const QString& iface)
{
    Entry e;
    e.device.kind = kind;
    e.device.name = std::move(name);
    e.device.ip = std::move(ip);
    e.device.sn = std::move(sn);
    e.device.id = std::move(id);
    e.device.configurable = configurable;
    e.from = QStringLiteral("10.0.0.2:8838");
    e.interfaceName = iface;
    e.ms = 42;
    return e;
}

// What a device may put in its answer: CSV's separators, JSON's escapes, a terminal's
// controls, C1 controls, and the replacement characters of bytes that were not UTF-8.
const QList<Entry> kHostile {
    entry(AnswerKind::Reply, QString::fromUtf8("a,b \"q\"\r\nline\ttab\x1b[2J"), QString("10.0.0.4"),
        QString("S,1"), QString("I\"D\\"), true, "eth0"),
    entry(AnswerKind::Reply, QString::fromUtf8("bad\xef\xbf\xbd\xef\xbf\xbd utf8"), std::nullopt, QString(""),
        std::nullopt, false, ""),
    entry(AnswerKind::Announcement, std::nullopt, QString("10.0.0.5"),
        QString::fromUtf8("SN\xc3\xa9\xc2\x9b"), QString::fromUtf8("ID\x7f"), false, "Ethernet 2"),
};

// An entry's fields as CSV writes them: absent ones empty.
QStringList csvFields(const Entry& e)
{
    const DeviceFields& d = e.device;
    return { d.kind == AnswerKind::Reply ? "reply" : "announce", d.name.value_or(""), d.ip.value_or(""),
        d.sn.value_or(""), d.id.value_or(""), d.configurable ? "true" : "false", e.from, e.interfaceName };
}

void compareJson(const QJsonObject& o, const Entry& e)
{
    const auto same = [&](const char* key, const std::optional<QString>& field) {
        const QJsonValue v = o.value(QLatin1String(key));
        return field ? v.toString() == *field && v.isString() : v.isNull();
    };
    QVERIFY(same("name", e.device.name) && same("ip", e.device.ip) && same("sn", e.device.sn)
        && same("id", e.device.id));
    QCOMPARE(o.value("configurable").toBool(), e.device.configurable);
    QCOMPARE(o.value("interface"),
        e.interfaceName.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(e.interfaceName));
    QCOMPARE(o.value("t").toInt(), 42);
}

AssignRow row(const QString& sn, std::optional<QString> oldIp, const QString& iface, AssignStatus status,
    std::optional<double> seconds)
{
    AssignRow r;
    r.planned = { sn, AddressFromText("192.168.1.20"), AddressFromText("255.255.255.0"),
        AddressFromText("192.168.1.1"), 0 };
    r.oldIp = std::move(oldIp);
    r.interfaceName = iface;
    r.status = status;
    r.seconds = seconds;
    r.check = QStringLiteral("free");
    return r;
}
}

class TestOutput : public QObject {
    Q_OBJECT
private slots:
    void terminalSafe_data();
    void terminalSafe();
    void csvField_data();
    void csvField();
    void formatNames();
    void entriesReadBack_data();
    void entriesReadBack();
    void entryTable();
    void assignRows_data();
    void assignRows();
    void searchSummary_data();
    void searchSummary();
    void uniqueKeepsTheFirstPerSerial();
    void logLines_data();
    void logLines();
    void defaultLogPath_data();
    void defaultLogPath();
    void copiedRows_data();
    void copiedRows();
};

void TestOutput::terminalSafe_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("printable, any script") << QString::fromUtf8("Dévice 序 \xc2\xa0\xef\xbf\xbd")
                                           << QString::fromUtf8("Dévice 序 \xc2\xa0\xef\xbf\xbd");
    QTest::newRow("escape sequence") << "\x1b[2J"
                                     << "\\x1b[2J";
    QTest::newRow("tab and line ends") << "\t\n\r"
                                       << "\\x09\\x0a\\x0d";
    QTest::newRow("NUL and DEL") << QString::fromUtf8("a\0\x7f", 3) << "a\\x00\\x7f";
    QTest::newRow("C1 controls, first and last") << QString::fromUtf8("\xc2\x80\xc2\x9f") << "\\x80\\x9f";
    QTest::newRow("backslash, so an escape cannot be forged") << "\\x1b"
                                                              << "\\\\x1b";
}

void TestOutput::terminalSafe()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(TerminalSafe(text), shown);
}

void TestOutput::csvField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << " a b "
                           << " a b ";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("comma") << "a,b"
                           << "\"a,b\"";
    QTest::newRow("quote") << "say \"hi\""
                           << "\"say \"\"hi\"\"\"";
    QTest::newRow("CR") << "a\rb"
                        << "\"a\rb\"";
    QTest::newRow("LF") << "a\nb"
                        << "\"a\nb\"";
    // What a spreadsheet would run, guarded; the reader takes the guard off again.
    for (const char* formula : { "=1+1", "+1", "-1", "@SUM(A1)", "\tx" })
        QTest::newRow(formula) << formula << QStringLiteral("'") + formula;
    QTest::newRow("CR first") << "\r=1"
                              << "\"'\r=1\"";
    QTest::newRow("formula with a comma and quotes") << "=HYPERLINK(\"x\",A1)"
                                                     << "\"'=HYPERLINK(\"\"x\"\",A1)\"";
    QTest::newRow("apostrophes before a formula: one more") << "''=x"
                                                            << "'''=x";
    QTest::newRow("an apostrophe of its own: as it is") << "'x"
                                                        << "'x";
    QTest::newRow("a formula sign later: as it is") << "a=b-c"
                                                    << "a=b-c";
}

void TestOutput::csvField()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(CsvField(text), field);
    QVector<QStringList> records;
    QVERIFY(ReadCsv(field + "\r\n", &records));
    QCOMPARE(WithoutFormulaGuard(records.value(0).value(0)), text);
}

void TestOutput::formatNames()
{
    OutputFormat format = OutputFormat::Table;
    QVERIFY(ParseOutputFormat("jsonl", &format) && format == OutputFormat::JsonLines);
    QVERIFY(ParseOutputFormat("csv", &format) && format == OutputFormat::Csv);
    QVERIFY(ParseOutputFormat("json", &format) && format == OutputFormat::Json);
    QVERIFY(ParseOutputFormat("table", &format) && format == OutputFormat::Table);
    for (const char* name : { "JSON", "", " csv", "xml" })
        QVERIFY2(!ParseOutputFormat(name, &format), name);
}

void TestOutput::entriesReadBack_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("csv") << "csv";
    QTest::newRow("json") << "json";
    QTest::newRow("jsonl") << "jsonl";
}

void TestOutput::entriesReadBack()
{
    QFETCH(QString, format);
    if (format == "csv") {
        QString text = CsvHeader();
        for (const Entry& e : kHostile)
            text += CsvRecord(e);
        QVector<QStringList> records;
        QVERIFY2(ReadCsv(text, &records), qPrintable(text));
        QCOMPARE(records.size(), kHostile.size() + 1);
        QCOMPARE(records.first(),
            QStringList({ "kind", "name", "ip", "sn", "id", "configurable", "from", "interface" }));
        for (int i = 0; i < kHostile.size(); ++i)
            QCOMPARE(records.at(i + 1), csvFields(kHostile.at(i)));
        return;
    }
    QJsonArray objects;
    if (format == "json") {
        QJsonParseError error {};
        objects = QJsonDocument::fromJson(JsonArray(kHostile), &error).array();
        QCOMPARE(error.error, QJsonParseError::NoError);
    } else {
        for (const Entry& e : kHostile) {
            const QByteArray line = JsonLine(e);
            QVERIFY(line.endsWith('\n') && line.count('\n') == 1);
            objects.append(QJsonDocument::fromJson(line).object());
        }
    }
    QCOMPARE(objects.size(), kHostile.size());
    for (int i = 0; i < kHostile.size(); ++i) {
        const QJsonObject o = objects.at(i).toObject();
        QCOMPARE(o.keys(),
            QStringList({ "configurable", "from", "id", "interface", "ip", "kind", "name", "sn", "t" }));
        compareJson(o, kHostile.at(i));
    }
}

void TestOutput::entryTable()
{
    const QString table = TableText(kHostile);
    // No control character reaches the terminal: C0, DEL or C1.
    for (const QChar c : table) {
        const ushort u = c.unicode();
        QVERIFY2(u == '\n' || (u >= 0x20 && u != 0x7f && (u < 0x80 || u >= 0xa0)),
            qPrintable(QString::number(u, 16)));
    }
    const QStringList lines = table.split('\n');
    QCOMPARE(lines.size(), kHostile.size() + 2); // title, entries, and the empty rest after the last "\n"
    QCOMPARE(lines.at(1),
        "1  a,b \"q\"\\x0d\\x0aline\\x09tab\\x1b[2J  10.0.0.4  S,1      I\"D\\\\   yes     10.0.0.2:8838  "
        "eth0");
    QCOMPARE(lines.at(2),
        QString::fromUtf8("2  bad\xef\xbf\xbd\xef\xbf\xbd utf8") + QString(25, ' ') + "-"
            + QString(9 + 9, ' ') + "-" + QString(7, ' ') + "no      10.0.0.2:8838  -");
    QCOMPARE(lines.at(3),
        "3  -" + QString(34, ' ')
            + QString::fromUtf8("10.0.0.5  SN\xc3\xa9\\x9b  ID\\x7f  no      10.0.0.2:8838  Ethernet 2"));
}

void TestOutput::assignRows_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("csv")
        << "csv"
        << QByteArray("sn,old_ip,ip,mask,gateway,interface,status,seconds,check\r\n"
                      "A1,10.0.0.4,192.168.1.20,255.255.255.0,192.168.1.1,eth0,confirmed,1.24,free\r\n"
                      "\"S,\"\"2\"\"\n\",,192.168.1.20,255.255.255.0,192.168.1.1,,not sent,,free\r\n");
    QTest::newRow("jsonl")
        << "jsonl"
        << QByteArray(
               R"({"check":"free","gateway":"192.168.1.1","interface":"eth0","ip":"192.168.1.20",)"
               R"("mask":"255.255.255.0","old_ip":"10.0.0.4","seconds":1.24,"sn":"A1","status":"confirmed"})"
               "\n"
               R"({"check":"free","gateway":"192.168.1.1","interface":null,"ip":"192.168.1.20",)"
               R"("mask":"255.255.255.0",)"
               R"("old_ip":null,"seconds":null,"sn":"S,\"2\"\n","status":"not sent"})"
               "\n");
    QTest::newRow("table") << "table"
                           << QByteArray(
                                  "SERIAL     OLD IP    NEW IP        MASK           GATEWAY      IFACE  "
                                  "STATUS     SECONDS\n"
                                  "A1         10.0.0.4  192.168.1.20  255.255.255.0  192.168.1.1  eth0   "
                                  "confirmed  1.24\n"
                                  "S,\"2\"\\x0a  -         192.168.1.20  255.255.255.0  192.168.1.1  all    "
                                  "not sent   -\n");
}

void TestOutput::assignRows()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, expected);
    const QList<AssignRow> rows { row("A1", QString("10.0.0.4"), "eth0", AssignStatus::Confirmed, 1.236),
        row("S,\"2\"\n", std::nullopt, "", AssignStatus::NotSent, std::nullopt) };
    QByteArray text;
    if (format == "table") {
        text = TableText(rows).toUtf8();
    } else {
        text = format == "csv" ? AssignCsvHeader().toUtf8() : QByteArray();
        for (const AssignRow& r : rows)
            text += format == "csv" ? CsvRecord(r).toUtf8() : JsonLine(r);
    }
    QCOMPARE(text, expected);
    if (format == "jsonl") {
        // The array holds the same objects as the lines.
        const QJsonArray array = QJsonDocument::fromJson(JsonArray(rows)).array();
        QCOMPARE(array.size(), 2);
        QCOMPARE(JsonLine(rows.at(1)),
            QJsonDocument(array.at(1).toObject()).toJson(QJsonDocument::Compact) + '\n');
    }
}

void TestOutput::searchSummary_data()
{
    QTest::addColumn<long long>("drops");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("warning");
    const QString head = "3 entries, 2 serial numbers, 2 replies, 1 announcements, on lo, eth0, in 1.5 s";
    QTest::newRow("none dropped") << 0LL << head + ", 0 datagrams dropped by the kernel"
                                  << "";
    // Windows keeps no drop count: never a made-up 0.
    QTest::newRow("unknown") << -1LL << head + ", datagrams dropped by the kernel: unknown"
                             << "";
    QTest::newRow("some dropped")
        << 4LL << head + ", 4 datagrams dropped by the kernel"
        << "devicesearch-cli: some answers were lost in a full receive buffer (212992 "
           "bytes); see \"Many devices at once\" in the README to raise "
           "net.core.rmem_max";
}

void TestOutput::searchSummary()
{
    QFETCH(long long, drops);
    QFETCH(QString, summary);
    QFETCH(QString, warning);
    SearchOptions options;
    options.waitSeconds = 1.5;
    options.interfaces = { InterfaceInfo(), InterfaceInfo() };
    options.interfaces[0].name = "lo";
    options.interfaces[1].name = "eth0";
    SearchStats stats;
    stats.replies = 2;
    stats.announcements = 1;
    stats.drops = drops;
    stats.replyBuffer = 212992;
    QCOMPARE(SearchSummary(3, 2, stats, options), summary);
    QCOMPARE(DropWarning(stats), warning);
    QCOMPARE(SearchSummary(3, 2, stats, options, 15, 0.75),
        summary.replace(", in 1.5 s", ", in 1.5 s, interrupted by SIGTERM after 0.8 s"));
}

void TestOutput::uniqueKeepsTheFirstPerSerial()
{
    const QList<Entry> heard { entry(AnswerKind::Reply, {}, {}, QString("A"), {}, true, "lo"),
        entry(AnswerKind::Announcement, {}, {}, QString("A"), {}, false, "lo"),
        entry(AnswerKind::Reply, {}, {}, QString(""), {}, true, "lo"),
        entry(AnswerKind::Reply, {}, {}, std::nullopt, {}, true, "lo"),
        entry(AnswerKind::Reply, {}, {}, QString(""), {}, true, "lo"),
        entry(AnswerKind::Reply, {}, {}, QString("B"), {}, true, "lo") };
    for (const bool unique : { false, true }) {
        EntryFilter filter(unique);
        QList<bool> kept;
        for (const Entry& e : heard)
            kept << filter.keep(e);
        QCOMPARE(kept, QList<bool>({ true, !unique, true, true, true, true }));
        QCOMPARE(filter.serials(), 2);
    }
}

void TestOutput::logLines_data()
{
    QTest::addColumn<bool>("sending");
    QTest::addColumn<int>("statusNumber");
    QTest::addColumn<QByteArray>("line");
    const QByteArray time = R"({"time":"2024-03-01T09:05:07.042Z",)";
    const QByteArray settings
        = R"("gateway":"192.168.1.1","interface":"eth0","ip":"192.168.1.20","mask":"255.255.255.0",)"
          R"("old_ip":"10.0.0.9",)";
    QTest::newRow("sending") << true << int(AssignStatus::Planned)
                             << time + R"("event":"sending",)" + settings + R"("sn":"S\"1","check":"free"})"
            + '\n';
    QTest::newRow("confirmed") << false << int(AssignStatus::Confirmed)
                               << time + R"("event":"confirmed",)" + settings
            + R"("seconds":1.25,"sn":"S\"1","check":"free"})" + '\n';
    QTest::newRow("not sent") << false << int(AssignStatus::NotSent)
                              << time + R"("event":"not sent",)" + settings
            + R"("seconds":null,"sn":"S\"1","check":"free"})" + '\n';
}

void TestOutput::logLines()
{
    QFETCH(bool, sending);
    QFETCH(int, statusNumber);
    QFETCH(QByteArray, line);
    const AssignStatus status = AssignStatus(statusNumber);
    const std::optional<double> seconds
        = status == AssignStatus::Confirmed ? std::optional<double>(1.25) : std::nullopt;
    // Any zone in, UTC out.
    const QDateTime time(QDate(2024, 3, 1), QTime(10, 5, 7, 42), Qt::OffsetFromUTC, 3600);
    QCOMPARE(AssignLogLine(time, row("S\"1", QString("10.0.0.9"), "eth0", status, seconds), sending), line);
}

// The variables as "NAME=value,NAME=value"; an empty path: refused, naming what is missing.
void TestOutput::defaultLogPath_data()
{
    QTest::addColumn<QString>("variables");
    QTest::addColumn<QString>("path");
#ifdef _WIN32
    QTest::newRow("LOCALAPPDATA") << "LOCALAPPDATA=C:/Users/u/AppData/Local"
                                  << "C:/Users/u/AppData/Local/devicesearch/assign.jsonl";
    QTest::newRow("unset") << ""
                           << "";
    QTest::newRow("relative") << "LOCALAPPDATA=Local"
                              << "";
#else
    QTest::newRow("XDG_STATE_HOME") << "XDG_STATE_HOME=/var/st/,HOME=/home/u"
                                    << "/var/st/devicesearch/assign.jsonl";
    QTest::newRow("unset") << "HOME=/home/u"
                           << "/home/u/.local/state/devicesearch/assign.jsonl";
    QTest::newRow("relative, so ignored") << "XDG_STATE_HOME=st,HOME=/home/u"
                                          << "/home/u/.local/state/devicesearch/assign.jsonl";
    QTest::newRow("no home") << ""
                             << "";
    QTest::newRow("a relative home") << "XDG_STATE_HOME=st,HOME=u"
                                     << "";
#endif
}

void TestOutput::defaultLogPath()
{
    QFETCH(QString, variables);
    QFETCH(QString, path);
    const auto variable = [&](const char* name) {
        for (const QString& pair : variables.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (pair.section(QLatin1Char('='), 0, 0) == QLatin1String(name))
                return pair.section(QLatin1Char('='), 1);
        }
        return QString();
    };
    QString why;
    QCOMPARE(DefaultAssignLogPath(variable, &why), path);
    QCOMPARE(why.isEmpty(), !path.isEmpty());
#ifdef _WIN32
    QVERIFY(path.isEmpty() == why.contains("LOCALAPPDATA"));
#endif
}

using Rows = QList<QStringList>;

// The rows as copied from the table (header first), and the cells a spreadsheet must get.
void TestOutput::copiedRows_data()
{
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<Rows>("cells");
    QTest::newRow("leading zeros and a formula stay text") << Rows { { "sn", "name" }, { "000123", "=1+1" },
        { "0042", "1E5" } } << Rows { { "sn", "name" }, { "000123", "=1+1" }, { "0042", "1E5" } };
    QTest::newRow("markup and quotes escaped") << Rows { { "h" }, { "<b>x</b>" }, { "a&amp;\"q\"'" } }
                                               << Rows { { "h" }, { "<b>x</b>" }, { "a&amp;\"q\"'" } };
    QTest::newRow("tab, line ends and controls become spaces")
        << Rows { { "h\tx", "y" }, { "a\tb", "c\r\nd" }, { QString::fromUtf8("e\0\x1b\x7f", 4), "f" } }
        << Rows { { "h x", "y" }, { "a b", "c  d" }, { "e   ", "f" } };
    QTest::newRow("empty cells keep their place")
        << Rows { { "a", "b", "c" }, { "", "x", "" } } << Rows { { "a", "b", "c" }, { "", "x", "" } };
    QTest::newRow("any script, as written") << Rows { { QString::fromUtf8("序列号") }, { " é 序 " } }
                                            << Rows { { QString::fromUtf8("序列号") }, { " é 序 " } };
}

void TestOutput::copiedRows()
{
    QFETCH(Rows, rows);
    QFETCH(Rows, cells);

    QStringList lines = CopiedRowsText(rows).split(QLatin1Char('\n'));
    QCOMPARE(lines.takeLast(), QString()); // every line ends
    QCOMPARE(lines.size(), cells.size());
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(lines.at(i).split(QLatin1Char('\t')), cells.at(i));

    // Read back as a spreadsheet does: every cell marked as text the ways Excel and Calc look
    // for, nothing in it read as markup.
    const QString html = CopiedRowsHtml(rows);
    QVERIFY(html.indexOf("<!--StartFragment--><table>") > 0 && html.contains("</table><!--EndFragment-->"));
    QVERIFY(html.contains("charset=utf-8"));
    const QRegularExpression row("<tr>(.*?)</tr>");
    const QRegularExpression cell("<(t[hd])([^>]*)>([^<]*)</\\1>");
    Rows read;
    for (auto r = row.globalMatch(html); r.hasNext();) {
        const QString tr = r.next().captured(1);
        QStringList texts;
        for (auto c = cell.globalMatch(tr); c.hasNext();) {
            const QRegularExpressionMatch m = c.next();
            QCOMPARE(m.captured(1), QString(read.isEmpty() ? "th" : "td"));
            QVERIFY2(m.captured(2).contains(R"(style='mso-number-format:"\@"')")
                    && m.captured(2).contains(" x:str") && m.captured(2).contains(R"(sdnum="1033;0;@")"),
                qPrintable(m.captured(2)));
            QString text = m.captured(3);
            QVERIFY2(!text.contains('"') && !text.contains('>'), qPrintable(text));
            text.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"").replace("&amp;", "&");
            texts.append(text);
        }
        read.append(texts);
    }
    QCOMPARE(read, cells);
}

QTEST_GUILESS_MAIN(TestOutput)
#include "tst_output.moc"
