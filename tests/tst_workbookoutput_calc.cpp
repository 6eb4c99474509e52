// A real spreadsheet opens the workbook: LibreOffice Calc, headless, saves it as CSV, and
// every text comes back as it was written, never a number or a formula's result. A list as
// the window exports it, its ip column edited, comes back from Calc as a plan.
#include "calc.h"
#include "csvreader.h"
#include "hostileentries.h"
#include "output.h"
#include "plan.h"
#include "tablefile.h"
#include "workbookreader.h"
#include "workbookwriter.h"

#include <QtTest>

class TestWorkbookOutputCalc : public QObject {
    Q_OBJECT
private slots:
    void calcKeepsEveryText();
    void calcMakesAPlanOfAnExportedList();

private:
    // Runs Calc on path with these options; false with what it said.
    bool calc(const QStringList& options, const QString& path, QByteArray* said);

    QTemporaryDir m_dir;
};

void TestWorkbookOutputCalc::calcKeepsEveryText()
{
    const QList<Entry> entries = HostileWorkbookEntries();
    const QString path = m_dir.filePath("devices.xlsx");
    QString why;
    QVERIFY2(WriteWorkbook(path, OutputColumns<Entry>(), WorkbookRows(entries), &why), qPrintable(why));

    QByteArray said;
    QVERIFY2(calc({ "--convert-to", "csv:Text - txt - csv (StarCalc):" + CalcCsvOptions() }, path, &said),
        said.constData());
    QVector<QStringList> records;
    const QString text = CalcCsv(m_dir.filePath("devices.csv"));
    QVERIFY2(ReadCsv(text, &records), qPrintable(text));

    QCOMPARE(records, WrittenTexts(OutputColumns<Entry>(), WorkbookRows(entries)));
}

bool TestWorkbookOutputCalc::calc(const QStringList& options, const QString& path, QByteArray* said)
{
    return RunCalc(m_dir.filePath("profile"), options, path, said);
}

// The window's export opened by Calc, every text exact; its ip column edited and saved by
// Calc as a workbook, which the plan reader takes with the serial number as it was.
void TestWorkbookOutputCalc::calcMakesAPlanOfAnExportedList()
{
    QList<Entry> entries = HostileWorkbookEntries();
    entries.prepend(WorkbookEntry(QStringLiteral("=1+1"), QStringLiteral("007"), QStringLiteral("ID7")));
    for (int i = 0; i < entries.size(); ++i) {
        entries[i].from.clear(); // the window does not keep the source port
        entries[i].device.ip = QStringLiteral("10.0.0.%1").arg(10 + i);
    }
    QList<QList<OutputCell>> rows = WorkbookRows(entries);
    QDir(m_dir.path()).mkdir("list");
    const QString path = m_dir.filePath("list/list.xlsx");
    QString why;
    QVERIFY2(
        WriteTableFile(path, TableFileFormat::Xlsx, OutputColumns<Entry>(), rows, &why), qPrintable(why));

    QByteArray said;
    QVERIFY2(calc({ "--convert-to", "csv:Text - txt - csv (StarCalc):" + CalcCsvOptions() }, path, &said),
        said.constData());
    QString text = CalcCsv(m_dir.filePath("list/list.csv"));
    QVector<QStringList> records;
    QVERIFY2(ReadCsv(text, &records), qPrintable(text));
    QCOMPARE(records, WrittenTexts(OutputColumns<Entry>(), rows));
    QCOMPARE(records.at(1).at(1), QString("=1+1"));
    QCOMPARE(records.at(2).at(3), QString("0012345"));

    // The ip column edited; Calc reads every column as text, as a person tells its import
    // dialog for serial numbers, and saves a workbook.
    text.replace(QStringLiteral("10.0.0."), QStringLiteral("192.168.5."));
    QDir(m_dir.path()).mkdir("edited");
    QFile edited(m_dir.filePath("edited/plan.csv"));
    QVERIFY(edited.open(QIODevice::WriteOnly) && edited.write(text.toUtf8()) > 0);
    edited.close();
    QStringList textColumns;
    for (int c = 1; c <= OutputColumns<Entry>().size(); ++c)
        textColumns << QStringLiteral("%1/2").arg(c);
    QVERIFY2(
        calc({ "--infilter=CSV:" + CalcCsvOptions() + "," + textColumns.join('/'), "--convert-to", "xlsx" },
            edited.fileName(), &said),
        said.constData());
    QFile plan(m_dir.filePath("edited/plan.xlsx"));
    QVERIFY2(plan.open(QIODevice::ReadOnly), "Calc saved no workbook");
    const QByteArray bytes = plan.readAll();
    QList<Assignment> assignments;
    PlanError problem;
    QVERIFY2(ReadPlan(bytes, {}, "255.255.255.0", QString(), &assignments, &problem)
            && CheckAssignments(assignments, &problem),
        qPrintable(QStringLiteral("%1: %2").arg(problem.line).arg(problem.text)));
    QCOMPARE(assignments.size(), entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        QCOMPARE(assignments.at(i).sn, *entries.at(i).device.sn);
        QCOMPARE(assignments.at(i).ip, 0xc0a80500u + 10 + i);
    }
    QList<CsvFileRecord> saved;
    QVERIFY2(ReadWorkbookRecords(bytes, &saved, &problem), qPrintable(problem.text));
    QCOMPARE(saved.value(1).fields.value(1), QString("=1+1"));
}

QTEST_GUILESS_MAIN(TestWorkbookOutputCalc)
#include "tst_workbookoutput_calc.moc"
