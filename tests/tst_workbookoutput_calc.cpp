// A real spreadsheet opens the workbook: LibreOffice Calc, headless, saves it as CSV, and
// every text comes back as it was written, never a number or a formula's result.
#include "csvreader.h"
#include "hostileentries.h"
#include "output.h"
#include "workbookwriter.h"

#include <QtTest>

class TestWorkbookOutputCalc : public QObject {
    Q_OBJECT
private slots:
    void calcKeepsEveryText();

private:
    QTemporaryDir m_dir;
};

void TestWorkbookOutputCalc::calcKeepsEveryText()
{
    const QList<Entry> entries = HostileWorkbookEntries();
    const QString path = m_dir.filePath("devices.xlsx");
    QString why;
    QVERIFY2(WriteWorkbook(path, OutputColumns<Entry>(), WorkbookRows(entries), &why), qPrintable(why));

    QProcess calc;
    calc.setProcessChannelMode(QProcess::ForwardedChannels);
    // A profile of its own, so that neither a user's nor another run's is touched.
    calc.start("soffice",
        { "-env:UserInstallation=" + QUrl::fromLocalFile(m_dir.filePath("profile")).toString(), "--headless",
            "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1", "--outdir", m_dir.path(), path });
    QVERIFY2(calc.waitForStarted(30000), "soffice not found (tools/install-deps installs it)");
    // The first start makes the profile, which takes a while on a busy machine.
    QVERIFY(calc.waitForFinished(240000));
    QCOMPARE(calc.exitCode(), 0);
    QFile saved(m_dir.filePath("devices.csv"));
    QVERIFY2(saved.open(QIODevice::ReadOnly), "Calc saved no CSV");
    QVector<QStringList> records;
    // Calc ends its records with LF alone; the strict reader wants CRLF between them.
    QString text;
    bool quoted = false;
    for (const QChar c : QString::fromUtf8(saved.readAll())) {
        quoted ^= c == QLatin1Char('"');
        text += !quoted && c == QLatin1Char('\n') ? QStringLiteral("\r\n") : QString(c);
    }
    QVERIFY2(ReadCsv(text, &records), qPrintable(text));

    QCOMPARE(records.size(), entries.size() + 1);
    QCOMPARE(records.first(), OutputColumns<Entry>());
    for (int r = 0; r < entries.size(); ++r) {
        QStringList written;
        for (const OutputCell& cell : OutputCells(entries.at(r)))
            written << cell.text;
        QCOMPARE(records.at(r + 1), written);
    }
}

QTEST_GUILESS_MAIN(TestWorkbookOutputCalc)
#include "tst_workbookoutput_calc.moc"
