// The workbook as written, read back cell by cell from its XML: every text a string cell
// with its exact text, the seconds numbers, the header bold, frozen and filtered.
#include "hostileentries.h"
#include "output.h"
#include "workbookwriter.h"
#include "xlsxcells.h"

#include <QtTest>

class TestWorkbookOutput : public QObject {
    Q_OBJECT
private slots:
    void entriesAreStringCells();
    void secondsAreNumbers();
    void columnWidths_data();
    void columnWidths();

private:
    QTemporaryDir m_dir;
};

void TestWorkbookOutput::entriesAreStringCells()
{
    const QList<Entry> entries = HostileWorkbookEntries();
    const QString path = m_dir.filePath("entries.xlsx");
    QString why;
    QVERIFY2(WriteWorkbook(path, OutputColumns<Entry>(), WorkbookRows(entries), &why), qPrintable(why));
    XlsxSheet sheet;
    QVERIFY2(ReadXlsx(path, &sheet, &why), qPrintable(why));

    const QStringList columns = OutputColumns<Entry>();
    for (int c = 0; c < columns.size(); ++c) {
        const XlsxCell cell = sheet.cells.value(XlsxRef(0, c));
        QCOMPARE(cell.type, QString("s"));
        QCOMPARE(cell.value, columns.at(c));
        QVERIFY2(sheet.boldStyle(cell.style), qPrintable(XlsxRef(0, c)));
    }
    for (int r = 0; r < entries.size(); ++r) {
        const QList<OutputCell> row = OutputCells(entries.at(r));
        for (int c = 0; c < row.size(); ++c) {
            const QString ref = XlsxRef(r + 1, c);
            const XlsxCell cell = sheet.cells.value(ref);
            QVERIFY2(cell.type == "s" && !cell.formula, qPrintable(ref));
            QCOMPARE(cell.value, row.at(c).text);
            QVERIFY2(!sheet.boldStyle(cell.style), qPrintable(ref));
        }
    }
    QCOMPARE(sheet.cells.size(), (entries.size() + 1) * columns.size());
    QVERIFY2(QRegularExpression(R"(<pane [^>]*ySplit="1"[^>]*state="frozen"/>)")
                 .match(QString::fromUtf8(sheet.sheetXml))
                 .hasMatch(),
        sheet.sheetXml.constData());
    QVERIFY(sheet.sheetXml.contains(
        QByteArray("<autoFilter ref=\"A1:H") + QByteArray::number(entries.size() + 1)));
}

void TestWorkbookOutput::secondsAreNumbers()
{
    AssignRow confirmed;
    confirmed.planned.sn = QStringLiteral("007");
    confirmed.planned.ip = 0x0a000005;
    confirmed.planned.mask = 0xffffff00;
    confirmed.status = AssignStatus::Confirmed;
    confirmed.seconds = 1.237;
    confirmed.check = QStringLiteral("free");
    AssignRow unanswered = confirmed;
    unanswered.status = AssignStatus::NotConfirmed;
    unanswered.seconds.reset();
    const QString path = m_dir.filePath("assign.xlsx");
    QString why;
    QVERIFY2(WriteWorkbook(path, OutputColumns<AssignRow>(),
                 WorkbookRows(QList<AssignRow> { confirmed, unanswered }), &why),
        qPrintable(why));
    XlsxSheet sheet;
    QVERIFY2(ReadXlsx(path, &sheet, &why), qPrintable(why));
    const int seconds = OutputColumns<AssignRow>().indexOf("seconds");
    const XlsxCell number = sheet.cells.value(XlsxRef(1, seconds));
    QCOMPARE(number.type, QString()); // a number cell carries no type
    QCOMPARE(number.value.toDouble(), 1.24);
    QVERIFY(!sheet.cells.contains(XlsxRef(2, seconds)));
    QCOMPARE(sheet.cells.value(XlsxRef(1, 0)).value, QString("007"));
    QCOMPARE(sheet.cells.value(XlsxRef(1, 0)).type, QString("s"));
}

void TestWorkbookOutput::columnWidths_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<double>("width");
    QTest::newRow("shorter than the header keeps the header's") << "x" << 7.0;
    QTest::newRow("a longer text, one beyond it") << "0123456789" << 11.0;
    QTest::newRow("Chinese counts two a character")
        << QString::fromUtf8("\xe6\x91\x84\xe5\x83\x8f\xe6\x9c\xba\xe4\xb8\x80\xe5\x8f\xb7") << 11.0;
    QTest::newRow("the longest line of several") << "abc\n0123456789abc\nde" << 14.0;
    QTest::newRow("capped") << QString(500, 'w') << 60.0;
}

void TestWorkbookOutput::columnWidths()
{
    QFETCH(QString, cell);
    QFETCH(double, width);
    const QList<double> widths = WorkbookColumnWidths({ "name" }, { { OutputCell { cell, std::nullopt } } });
    QCOMPARE(widths, QList<double> { width });
}

QTEST_GUILESS_MAIN(TestWorkbookOutput)
#include "tst_workbookoutput.moc"
