// Plans saved as workbooks: the sheet's cells as records, the refusals of cells a plan may
// not read and of files that are no workbook or too large, and (run as "calc") plans that
// LibreOffice Calc itself saved.
#include "addressrules.h"
#include "plan.h"
#include "workbookfixture.h"
#include "workbookreader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QUrl>

#include <sys/resource.h>

namespace {
// Records as lines "row:field|field", so that a failure shows where.
QStringList shown(const QList<CsvFileRecord>& records)
{
    QStringList lines;
    for (const CsvFileRecord& r : records)
        lines << QStringLiteral("%1:%2").arg(r.line).arg(r.fields.join(QLatin1Char('|')));
    return lines;
}

QByteArray inlineCell(const char* ref, const QByteArray& text)
{
    return QByteArray("<c r=\"") + ref + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
}

QByteArray odsText(const QByteArray& text, const QByteArray& attributes = QByteArray())
{
    return "<table:table-cell office:value-type=\"string\"" + attributes + "><text:p>" + text
        + "</text:p></table:table-cell>";
}

// The header row sn, ip, notes, then one row: as an .xlsx and as an .ods.
const QByteArray kXlsxHead = "<row r=\"1\">" + inlineCell("A1", "sn") + inlineCell("B1", "ip")
    + inlineCell("C1", "notes") + inlineCell("D1", "sum") + "</row>";
const QByteArray kOdsHead = "<table:table-row>" + odsText("sn") + odsText("ip") + odsText("notes")
    + odsText("sum") + "</table:table-row>";

QByteArray xlsxRow(const QByteArray& cells, const QByteArray& styles = QByteArray())
{
    return XlsxOf(kXlsxHead + "<row r=\"2\">" + cells + "</row>", QByteArray(), styles);
}

QByteArray odsRow(const QByteArray& cells)
{
    return OdsOf(kOdsHead + "<table:table-row>" + cells + "</table:table-row>");
}

const QByteArray kXlsxSn = inlineCell("A2", "SN1");
const QByteArray kXlsxIp = inlineCell("B2", "192.168.1.20");
const QByteArray kOdsSn = odsText("SN1");
const QByteArray kOdsIp = odsText("192.168.1.20");
}

class TestWorkbookPlan : public QObject {
    Q_OBJECT
private slots:
    void readsCells_data();
    void readsCells();
    void cellsAPlanMayNotRead_data();
    void cellsAPlanMayNotRead();
    void refusesFiles_data();
    void refusesFiles();
    void refusesHostileWorkbooks_data();
    void refusesHostileWorkbooks();
    void readsAHundredThousandRows();
};

void TestWorkbookPlan::readsCells_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("records");
    QTest::newRow("xlsx: shared strings with runs, phonetic guides dropped, rows and cells skipped")
        << XlsxOf("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c></row>"
                  "<row r=\"4\"><c r=\"A4\" t=\"s\"><v>2</v></c><c r=\"B4\"><v>1.2345E+4</v></c>"
                  "<c r=\"D4\" t=\"inlineStr\"><is><t>x;\"y\"</t></is></c><c r=\"F4\" s=\"0\"/></row>"
                  "<row r=\"5\"><c r=\"A5\" s=\"0\"/></row>",
               "<si><t>sn</t></si><si><r><t>i</t></r><r><rPr/><t>p</t></r></si>"
               "<si><t>007</t><rPh><t>zero</t></rPh></si>")
        << QStringList { "1:sn|ip", "4:007|12345||x;\"y\"" };
    QTest::newRow("xlsx: cells without references, a formula's text result, whole numbers") << XlsxOf(
        "<row><c t=\"inlineStr\"><is><t>a</t></is></c><c><v>-7.0</v></c><c><v>000123.000</v></c>"
        "<c><v>1E+3</v></c><c><v>123456789012345</v></c><c><v>0.0</v></c></row>"
        "<row><c t=\"str\"><v>b</v></c></row>") << QStringList { "1:a|-7|123|1000|123456789012345|0", "2:b" };
    QTest::newRow("xlsx: escaped characters, and a text's own _x") << XlsxOf(
        "<row><c t=\"inlineStr\"><is><t>a_x0009_b_x005F_x0041_</t></is></c><c t=\"s\"><v>0</v></c></row>",
        "<si><t>_x00e9__x12_</t></si>") << QStringList { "1:a\tb_x0041_|\u00e9_x12_" };
    QTest::newRow("ods: repeats, the empty ones never made")
        << OdsOf("<table:table-column table:number-columns-repeated=\"1024\"/><table:table-row>"
               + odsText("x", " table:number-columns-repeated=\"3\"")
               + "<table:table-cell table:number-columns-repeated=\"1000000\"/></table:table-row>"
                 "<table:table-row table:number-rows-repeated=\"2\">"
               + odsText("a") + "<table:table-cell table:number-columns-repeated=\"2\"/>" + odsText("b")
               + "</table:table-row><table:table-row table:number-rows-repeated=\"1048573\">"
                 "<table:table-cell table:number-columns-repeated=\"16384\"/></table:table-row>")
        << QStringList { "1:x|x|x", "2:a|||b", "3:a|||b" };
    QTest::newRow("ods: spaces, tabs, line breaks and paragraphs; comments dropped; covered cells count")
        << OdsOf(
               "<table:table-row><table:table-cell office:value-type=\"string\"><office:annotation>"
               "<text:p>note</text:p></office:annotation><text:p>a<text:s text:c=\"3\"/>b<text:tab/>c"
               "<text:line-break/>d</text:p><text:p><text:span>e</text:span><text:s/></text:p>"
               "</table:table-cell><table:covered-table-cell/><table:table-cell office:value-type=\"float\" "
               "office:value=\"12345\"><text:p>12,345</text:p></table:table-cell></table:table-row>")
        << QStringList { "1:a   b\tc\nd\ne ||12345" };
    QTest::newRow("xlsx: the last row and column a plan may use")
        << XlsxOf("<row r=\"200000\">" + inlineCell("XFD200000", "z") + "</row><row r=\"1048576\"><c/></row>")
        << QStringList { "200000:" + QString(kMaxWorkbookColumns - 1, '|') + 'z' };
    QTest::newRow("ods: the last column, and a cell of 32,767 characters over two paragraphs")
        << OdsOf("<table:table-row><table:table-cell table:number-columns-repeated=\"16383\"/>"
                 "<table:table-cell><text:p><text:s text:c=\"16000\"/></text:p><text:p>x<text:s "
                 "text:c=\"16765\"/></text:p></table:table-cell></table:table-row>")
        << QStringList { "1:" + QString(kMaxWorkbookColumns - 1, '|') + QString(16000, ' ') + "\nx"
               + QString(16765, ' ') };
}

void TestWorkbookPlan::readsCells()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, records);
    QVERIFY(IsWorkbookContainer(file));
    QList<CsvFileRecord> read;
    TextProblem problem;
    QVERIFY2(ReadWorkbookRecords(file, &read, &problem), qPrintable(problem.text));
    QCOMPARE(shown(read), records);
}

void TestWorkbookPlan::cellsAPlanMayNotRead_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error"); // "row: text", empty when the plan reads
    const QByteArray dateStyles
        = "<numFmts><numFmt numFmtId=\"164\" formatCode=\"yyyy\\-mm\\-dd\"/>"
          "<numFmt numFmtId=\"165\" formatCode=\"General&quot; days&quot;\"/></numFmts>"
          "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/>"
          "<xf numFmtId=\"165\"/><xf numFmtId=\"9\"/></cellXfs>";
    QTest::newRow("xlsx: a formula in a used column")
        << xlsxRow(kXlsxSn + "<c r=\"B2\" t=\"str\"><f>A1</f><v>192.168.1.20</v></c>")
        << "2: ip: cell B2 holds a formula; copy the column and paste it back as values";
    QTest::newRow("xlsx: a formula in an unused column") << xlsxRow(kXlsxSn + kXlsxIp
        + "<c r=\"C2\"><f>1+2</f><v>3</v></c><c r=\"D2\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>")
                                                         << "";
    QTest::newRow("xlsx: a built-in date format") << xlsxRow("<c r=\"A2\" s=\"1\"><v>45000</v></c>" + kXlsxIp,
        dateStyles) << "2: sn: cell A2 holds a date or time; format the column as text and type it again";
    QTest::newRow("xlsx: a custom date format") << xlsxRow("<c r=\"A2\" s=\"2\"><v>45000</v></c>" + kXlsxIp,
        dateStyles) << "2: sn: cell A2 holds a date or time; format the column as text and type it again";
    QTest::newRow("xlsx: a custom format with d only in quotes")
        << xlsxRow("<c r=\"A2\" s=\"3\"><v>45000</v></c>" + kXlsxIp, dateStyles) << "";
    QTest::newRow("xlsx: a percentage") << xlsxRow("<c r=\"A2\" s=\"4\"><v>1</v></c>" + kXlsxIp, dateStyles)
                                        << "2: sn: cell A2 holds a percentage; format the column as text and "
                                           "type it again";
    QTest::newRow("xlsx: a truth value") << xlsxRow(kXlsxSn + "<c r=\"B2\" t=\"b\"><v>1</v></c>")
                                         << "2: ip: cell B2 holds a truth value, not text";
    QTest::newRow("xlsx: an error") << xlsxRow("<c r=\"A2\" t=\"e\"><v>#N/A</v></c>" + kXlsxIp)
                                    << "2: sn: cell A2 holds the error #N/A";
    QTest::newRow("xlsx: a fraction")
        << xlsxRow("<c r=\"A2\"><v>1.25</v></c>" + kXlsxIp)
        << "2: sn: cell A2 holds the number 1.25, which is not whole; store the "
           "column as text";
    QTest::newRow("xlsx: 16 digits, past what a spreadsheet keeps")
        << xlsxRow("<c r=\"A2\"><v>1.234567890123456E+15</v></c>" + kXlsxIp)
        << "2: sn: cell A2 holds the number 1.234567890123456E+15 of more than 15 digits, which "
           "spreadsheets round; store the column as text";
    QTest::newRow("ods: a date") << odsRow("<table:table-cell office:value-type=\"date\" "
                                           "office:date-value=\"2024-01-02\"><text:p>02/01/24</text:p>"
                                           "</table:table-cell>"
        + kOdsIp) << "2: sn: cell A2 holds a date, not text; format the column as text and type it again";
    QTest::newRow("ods: a formula in a used column")
        << odsRow(kOdsSn + odsText("192.168.1.20", " table:formula=\"of:=[.A1]\""))
        << "2: ip: cell B2 holds a formula; copy the column and paste it back as values";
    QTest::newRow("ods: a formula and a truth value in unused columns") << odsRow(kOdsSn + kOdsIp
        + "<table:table-cell table:formula=\"of:=1+2\" office:value-type=\"float\" office:value=\"3\"/>"
          "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"true\"/>")
                                                                        << "";
}

void TestWorkbookPlan::cellsAPlanMayNotRead()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, error);
    QList<Assignment> plan;
    PlanError problem;
    const bool read = ReadPlan(file, {}, QStringLiteral("255.255.255.0"), QString(), &plan, &problem);
    QCOMPARE(read ? QString() : QStringLiteral("%1: %2").arg(problem.line).arg(problem.text), error);
    if (read) {
        QCOMPARE(plan.size(), 1);
        QCOMPARE(plan.first().line, 2);
        QVERIFY(plan.first().sn == "SN1" || plan.first().sn == "45000");
        QCOMPARE(AddressText(plan.first().ip), QStringLiteral("192.168.1.20"));
    }
}

void TestWorkbookPlan::refusesFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error");
    const QByteArray ole = QByteArray::fromHex("D0CF11E0A1B11AE1") + QByteArray(504, '\0');
    const QString encryptionInfo = QStringLiteral("EncryptionInfo");
    const QByteArray encrypted = QByteArray(reinterpret_cast<const char*>(encryptionInfo.utf16()), 28);
    QTest::newRow("a zip file that is no workbook")
        << ZipOf({ { "readme.txt", "hello" } }) << "0: is a zip file but not a workbook (.xlsx or .ods)";
    QTest::newRow("an old .xls")
        << ole
        << "0: is an OLE file (an old .xls workbook, or an encrypted one): save it as "
           ".xlsx, .ods or CSV UTF-8";
    QTest::newRow("an encrypted .xlsx")
        << ole + encrypted << "0: is an encrypted workbook: save it again without a password";
    QTest::newRow("an encrypted .ods") << OdsOf(kOdsHead,
        "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
        "<manifest:file-entry manifest:full-path=\"content.xml\"><manifest:encryption-data/>"
        "</manifest:file-entry></manifest:manifest>")
                                       << "0: is an encrypted workbook: save it again without a password";
    QTest::newRow("a text document")
        << ZipOf({ { "mimetype", "application/vnd.oasis.opendocument.text" }, { "content.xml", "<x/>" } })
        << "0: is an OpenDocument file but not a spreadsheet (application/vnd.oasis.opendocument.text)";
    QTest::newRow("a damaged zip file") << ZipOf({ { "readme.txt", "hello" } }).left(40)
                                        << "0: is a damaged zip file, or a zip file but not a workbook";
    QTest::newRow("a sheet that is not XML")
        << XlsxOf("<row><c>")
        << "1: xl/worksheets/sheet1.xml is not well-formed XML (line 1: Opening and ending "
           "tag mismatch.)";
    // Elements inside sheetData: a few tens of KB that unpack past the limit.
    const QByteArray bomb = XlsxOf(QByteArray("<x/>").repeated(kMaxWorkbookEntryBytes / 4 + 1));
    QTest::newRow("a zip bomb") << bomb
                                << "0: xl/worksheets/sheet1.xml unpacks to more than 64 MiB: not a plan";
    QTest::newRow("a text the XML parser would hold whole")
        << XlsxOf("<row><c t=\"str\"><v>" + QByteArray(kMaxWorkbookXmlPiece * 2, 'x') + "</v></c></row>")
        << "1: xl/worksheets/sheet1.xml holds a piece of XML of more than 4 MiB (a text or a tag): not a "
           "plan";
    QTest::newRow("a row with content repeated a million times")
        << OdsOf(kOdsHead + "<table:table-row table:number-rows-repeated=\"1000000\">" + kOdsSn + kOdsIp
               + "</table:table-row>")
        << "200001: a row with content past row 200000: a plan has at most 200000 rows";
    QTest::newRow("a cell with content repeated past the last column")
        << odsRow(odsText("x", " table:number-columns-repeated=\"20000\""))
        << "2: a cell with content past column XFD (16384): not a plan";
    QByteArray million
        = "<row><c t=\"inlineStr\"><is><t>sn</t></is></c><c t=\"inlineStr\"><is><t>ip</t></is></c></row>";
    for (int k = 0; k < 1000000; ++k)
        million += "<row><c><v>" + QByteArray::number(k) + "</v></c></row>";
    QTest::newRow("1,000,000 rows") << XlsxOf(
        million) << "200001: a row with content past row 200000: a plan has at most 200000 rows";
    QTest::newRow("an empty sheet") << XlsxOf(
        "<row r=\"7\"/>") << "0: the first sheet is empty; its first row must name the columns sn and ip";
}

void TestWorkbookPlan::refusesFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, error);
    QVERIFY(!file.isEmpty() && file.size() < 8 * 1024 * 1024);
    QList<Assignment> plan;
    PlanError problem;
    QVERIFY(!ReadPlan(file, {}, QStringLiteral("255.255.255.0"), QString(), &plan, &problem));
    QCOMPARE(QStringLiteral("%1: %2").arg(problem.line).arg(problem.text), error);
}

// Workbooks made to hang the reader or overrun its limits, with counts and row numbers of
// 19 digits, text spaced out and copies that cost memory: each refused within seconds.
void TestWorkbookPlan::refusesHostileWorkbooks_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error");
    const QByteArray max = "9223372036854775807";
    const QString pastXfd = "2: a cell with content past column XFD (16384): not a plan";
    const QString tooLong
        = "2: cell A2 holds more than 32767 characters, the most a spreadsheet keeps in a cell";
    const QString tooMuch = "2: the workbook holds more than 33554432 characters of text, every copy of a "
                            "repeated cell counted: not a plan";
    QTest::newRow("ods: a cell with content repeated 2^63-1 times")
        << odsRow(kOdsSn + kOdsIp + odsText("x", " table:number-columns-repeated=\"" + max + "\""))
        << pastXfd;
    QTest::newRow("ods: empty cells repeated 2^24 and 2^63-2^24-2^23-... times, then a text") << odsRow(
        "<table:table-cell table:number-columns-repeated=\"16777216\"/>"
        "<table:table-cell table:number-columns-repeated=\"9223372036837998597\"/>"
        + kOdsSn) << pastXfd;
    QTest::newRow("xlsx: 16,384 cells without a reference, then a text") << xlsxRow(
        QByteArray("<c/>").repeated(kMaxWorkbookColumns) + "<c t=\"inlineStr\"><is><t>x</t></is></c>")
                                                                         << pastXfd;
    QTest::newRow("xlsx: a cell reference past XFD")
        << xlsxRow(inlineCell("XFE2", "x"))
        << "2: cell reference 'XFE2' names no cell of a sheet (A1 to "
           "XFD1048576)";
    QTest::newRow("xlsx: a cell reference of row 2^63-1")
        << xlsxRow(inlineCell("A" + max, "x"))
        << "2: cell reference 'A9223372036854775807' names no cell "
           "of a sheet (A1 to XFD1048576)";
    QTest::newRow("ods: empty rows repeated 2^63-1 times, twice, then a row with content")
        << OdsOf(kOdsHead + "<table:table-row table:number-rows-repeated=\"" + max
               + "\"><table:table-cell/></table:table-row><table:table-row table:number-rows-repeated=\""
               + max + "\"/><table:table-row>" + kOdsSn + kOdsIp + "</table:table-row>")
        << "1048577: a row with content past row 200000: a plan has at most 200000 rows";
    QTest::newRow("ods: a row with content repeated 2^63-1 times")
        << OdsOf(kOdsHead + "<table:table-row table:number-rows-repeated=\"" + max + "\">" + kOdsSn + kOdsIp
               + "</table:table-row>")
        << "200001: a row with content past row 200000: a plan has at most 200000 rows";
    QTest::newRow("xlsx: row 2^63-1, then a row without a number")
        << XlsxOf(kXlsxHead + "<row r=\"" + max + "\"><c><v>1</v></c></row><row><c><v>1</v></c></row>")
        << "2: row number '9223372036854775807' is not a row of a sheet (1 to 1048576)";
    QTest::newRow("xlsx: the last row of a sheet, then a row without a number")
        << XlsxOf(kXlsxHead + "<row r=\"1048576\"/><row><c><v>1</v></c></row>")
        << "1048577: a row past row 1048576, the last of a sheet";
    QTest::newRow("ods: one cell of 200,000 paragraphs of 32,767 spaces") << odsRow("<table:table-cell>"
        + QByteArray("<text:p><text:s text:c=\"32767\"/></text:p>").repeated(200000) + "</table:table-cell>")
                                                                          << tooLong;
    QTest::newRow("ods: a text:c of 2^63-1")
        << odsRow("<table:table-cell><text:p>a<text:s text:c=\"" + max + "\"/></text:p></table:table-cell>")
        << tooLong;
    QTest::newRow("xlsx: a value of 32,768 characters")
        << xlsxRow("<c r=\"A2\" t=\"str\"><v>" + QByteArray(32768, 'x') + "</v></c>") << tooLong;
    QTest::newRow("xlsx: a shared string of 32,767 characters in 1,025 cells") << XlsxOf(
        kXlsxHead + "<row r=\"2\">" + QByteArray("<c t=\"s\"><v>0</v></c>").repeated(1025) + "</row>",
        "<si><t>" + QByteArray(32767, 'x') + "</t></si>") << tooMuch;
    QTest::newRow("ods: a cell of 32,767 spaces repeated across a row, and the row 2,000 times") << OdsOf(
        kOdsHead
        + "<table:table-row table:number-rows-repeated=\"2000\"><table:table-cell><text:p>"
          "<text:s text:c=\"32767\"/></text:p></table:table-cell></table:table-row>") << tooMuch;
    QTest::newRow("ods: formula cells whose problems alone pass the text budget") << OdsOf(kOdsHead
        + "<table:table-row table:number-rows-repeated=\"40\"><table:table-cell "
          "table:formula=\"of:=1\" table:number-columns-repeated=\"16384\"/></table:table-row>")
                                                                                  << tooMuch;
    QTest::newRow("ods: a repeat count that is no number")
        << odsRow(kOdsSn + odsText("x", " table:number-columns-repeated=\"-1\""))
        << "2: cell B2 has table:number-columns-repeated=\"-1\", which is no count of cells";
    QTest::newRow("ods: a row repeat count of 0") << OdsOf(kOdsHead
        + "<table:table-row table:number-rows-repeated=\"0\">" + kOdsSn
        + "</table:table-row>") << "2: a row has table:number-rows-repeated=\"0\", which is no count of rows";
    QTest::newRow("ods: a count of spaces that is no number")
        << odsRow("<table:table-cell><text:p><text:s text:c=\"1e9\"/></text:p></table:table-cell>")
        << "2: cell A2 has text:c=\"1e9\", which is no count of spaces";
    QTest::newRow("xlsx: a row number that goes back, which would let rows pass the limit")
        << XlsxOf(kXlsxHead + "<row r=\"3\"/><row r=\"2\"><c><v>1</v></c></row>")
        << "2: row 2 comes after row 3: rows out of order";
    QTest::newRow("xlsx: row number 0")
        << XlsxOf(kXlsxHead + "<row r=\"0\"/>") << "2: row number '0' is not a row of a sheet (1 to 1048576)";
}

void TestWorkbookPlan::refusesHostileWorkbooks()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, error);
    QVERIFY(!file.isEmpty() && file.size() < 256 * 1024);
    QElapsedTimer timer;
    timer.start();
    QList<Assignment> plan;
    PlanError problem;
    QVERIFY(!ReadPlan(file, {}, QStringLiteral("255.255.255.0"), QString(), &plan, &problem));
    QCOMPARE(QStringLiteral("%1: %2").arg(problem.line).arg(problem.text), error);
    // Generous bounds, only to catch a hang or a growth without end (sanitized builds too).
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    rusage usage {};
    QVERIFY(getrusage(RUSAGE_SELF, &usage) == 0);
    QVERIFY2(usage.ru_maxrss < 1024 * 1024, qPrintable(QStringLiteral("%1 KiB").arg(usage.ru_maxrss)));
}

void TestWorkbookPlan::readsAHundredThousandRows()
{
    QList<QStringList> rows { { "sn", "ip" } };
    for (int k = 0; k < 100000; ++k)
        rows.append({ QStringLiteral("SN%1").arg(k, 6, 10, QLatin1Char('0')), AddressText(0x0A000002 + k) });
    QList<Assignment> plan;
    PlanError problem;
    QVERIFY2(ReadPlan(XlsxOfTexts(rows), {}, QStringLiteral("255.0.0.0"), QStringLiteral("10.255.255.254"),
                 &plan, &problem)
            && CheckAssignments(plan, &problem),
        qPrintable(problem.text));
    QCOMPARE(plan.size(), 100000);
    QCOMPARE(plan.last().line, 100001);
    QCOMPARE(plan.last().sn, QStringLiteral("SN099999"));
}

// Plans that LibreOffice Calc saved, from a flat OpenDocument sheet written here: Chinese
// header names, serial numbers as text with leading zeros and as a number, an unused column
// with a semicolon and quotes, and one with a formula.
class TestCalcPlans : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void calcSavesPlans_data();
    void calcSavesPlans();

private:
    QTemporaryDir m_dir;
};

void TestCalcPlans::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const auto text = [](const QByteArray& t) {
        return "<table:table-cell office:value-type=\"string\"><text:p>" + t + "</text:p></table:table-cell>";
    };
    const auto row = [&](const QByteArray& sn, const QByteArray& ip, const QByteArray& mask, int k) {
        return "<table:table-row>" + sn + text(ip) + text(mask) + text("a;\"b\" " + QByteArray::number(k))
            + "<table:table-cell table:formula=\"of:=1+" + QByteArray::number(k)
            + "\" office:value-type=\"float\" office:value=\"0\"/></table:table-row>";
    };
    const QByteArray fods
        = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document "
          "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
          "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
          "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
          "office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\">"
          "<office:body><office:spreadsheet><table:table table:name=\"计划\">"
        + QByteArray("<table:table-row>") + text("序列号") + text("IP地址") + text("子网掩码") + text("备注")
        + text("合计") + "</table:table-row>" + row(text("007"), "192.168.1.20", "", 1)
        + row("<table:table-cell office:value-type=\"float\" office:value=\"12345\"/>", "192.168.1.21",
            "255.255.0.0", 2)
        + row(text("SN 3"), "192.168.1.22", "", 3)
        + "</table:table></office:spreadsheet></office:body></office:document>";
    QFile file(m_dir.filePath("plan.fods"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(fods) == fods.size());
    file.close();
    for (const char* format : { "xlsx", "ods" }) {
        QProcess calc;
        calc.setProcessChannelMode(QProcess::MergedChannels);
        calc.start(QStringLiteral("soffice"),
            { "--headless",
                "-env:UserInstallation=" + QUrl::fromLocalFile(m_dir.filePath("profile")).toString(),
                "--convert-to", format, "--outdir", m_dir.path(), file.fileName() });
        // The first start sets up the profile, which takes a while.
        QVERIFY2(calc.waitForFinished(240000) && calc.exitCode() == 0, calc.readAll().constData());
        QVERIFY2(QFile::exists(m_dir.filePath(QStringLiteral("plan.") + format)), calc.readAll().constData());
    }
}

void TestCalcPlans::calcSavesPlans_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("xlsx") << "plan.xlsx";
    QTest::newRow("ods") << "plan.ods";
}

void TestCalcPlans::calcSavesPlans()
{
    QFETCH(QString, name);
    QFile file(m_dir.filePath(name));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<Assignment> plan;
    PlanError problem;
    QVERIFY2(ReadPlan(file.readAll(), {}, QStringLiteral("255.255.255.0"), QString(), &plan, &problem)
            && CheckAssignments(plan, &problem),
        qPrintable(QStringLiteral("%1: %2").arg(problem.line).arg(problem.text)));
    QStringList read;
    for (const Assignment& a : plan)
        read << QStringLiteral("%1 %2 %3 %4 %5")
                    .arg(a.line)
                    .arg(a.sn, AddressText(a.ip), AddressText(a.mask), AddressText(a.gateway));
    QCOMPARE(read,
        QStringList(
            { "2 007 192.168.1.20 255.255.255.0 192.168.1.1", "3 12345 192.168.1.21 255.255.0.0 192.168.1.1",
                "4 SN 3 192.168.1.22 255.255.255.0 192.168.1.1" }));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // "calc" first runs LibreOffice, its own ctest entry; anything else is QTest's arguments.
    if (argc > 1 && qstrcmp(argv[1], "calc") == 0) {
        TestCalcPlans calc;
        return QTest::qExec(&calc, argc - 1, argv + 1);
    }
    TestWorkbookPlan test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_workbook_plan.moc"
