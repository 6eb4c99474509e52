// The workbook as written, read back cell by cell from its XML: every text a string cell
// with its exact text, the seconds numbers, the header bold, frozen and filtered; and the
// window's table files, which replace an earlier file only when complete.
#include "csvreader.h"
#include "hostileentries.h"
#include "output.h"
#include "tablefile.h"
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
    void tableFilesReplaceTheOldOne_data();
    void tableFilesReplaceTheOldOne();
    void failedTableFilesLeaveTheOldOne_data();
    void failedTableFilesLeaveTheOldOne();

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

namespace {
QList<QList<OutputCell>> tableRows()
{
    QList<Entry> entries = HostileWorkbookEntries();
    entries.append(WorkbookEntry(QStringLiteral("=1+1"), QStringLiteral("0012345"), QString()));
    return WorkbookRows(entries);
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

bool mount(const QStringList& args)
{
    QProcess mount;
    mount.setProcessChannelMode(QProcess::ForwardedChannels);
    mount.start("mount", args);
    return mount.waitForFinished() && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
}
}

void TestWorkbookOutput::tableFilesReplaceTheOldOne_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("workbook") << "list.xlsx";
    QTest::newRow("CSV") << "list.csv";
    QTest::newRow("a name that looks like a format") << "list %1 %2.csv";
}

// Every text exact (CSV: a guarded formula, a byte-order mark and CRLF), in place of the
// old file, with its permissions, and nothing left beside it.
void TestWorkbookOutput::tableFilesReplaceTheOldOne()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    QVERIFY(old.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    const QFileDevice::Permissions permissions = QFileInfo(path).permissions();
    const QList<QList<OutputCell>> rows = tableRows();
    QString why;
    QVERIFY2(
        WriteTableFile(path, TableFileFormatOf(path), OutputColumns<Entry>(), rows, &why), qPrintable(why));
    QCOMPARE(filesIn(dir.path()), QStringList { name });
    QCOMPARE(QFileInfo(path).permissions(), permissions);

    QVector<QStringList> read;
    if (TableFileFormatOf(path) == TableFileFormat::Xlsx) {
        XlsxSheet sheet;
        QVERIFY2(ReadXlsx(path, &sheet, &why), qPrintable(why));
        for (int r = 0; r <= rows.size(); ++r) {
            QStringList line;
            for (int c = 0; c < OutputColumns<Entry>().size(); ++c)
                line << sheet.cells.value(XlsxRef(r, c)).value;
            read << line;
        }
    } else {
        const QByteArray bytes = contentOf(path);
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QVERIFY2(ReadCsv(QString::fromUtf8(bytes.mid(3)), &read), bytes.constData());
        QVERIFY2(bytes.contains(",'=1+1,"), bytes.constData());
        for (QStringList& line : read) {
            for (QString& field : line)
                field = WithoutFormulaGuard(field);
        }
    }
    QCOMPARE(read, WrittenTexts(OutputColumns<Entry>(), rows));
    QCOMPARE(read.last().at(1), QString("=1+1"));
    QCOMPARE(read.last().at(3), QString("0012345"));
}

void TestWorkbookOutput::failedTableFilesLeaveTheOldOne_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("folder"); // how the folder is mounted; empty: not
    QTest::addColumn<QString>("reason");
    QTest::newRow("the target a folder") << "list.xlsx/" << QString() << "it is a folder";
    QTest::newRow("workbook, a folder no file may be added to") << "list.xlsx"
                                                                << "ro"
                                                                << "Permission denied";
    QTest::newRow("CSV, a folder no file may be added to") << "list.csv"
                                                           << "ro"
                                                           << "Permission denied";
    QTest::newRow("workbook, a full disk") << "list.xlsx"
                                           << "full"
                                           << "";
    QTest::newRow("CSV, a full disk") << "list.csv"
                                      << "full"
                                      << "No space";
}

void TestWorkbookOutput::failedTableFilesLeaveTheOldOne()
{
    QFETCH(QString, name);
    QFETCH(QString, folder);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    // A tmpfs in the test's own mount namespace (tests/netns/isolated makes one).
    if (!folder.isEmpty())
        QVERIFY2(mount({ "-t", "tmpfs", "-o", "size=16k", "none", dir.path() }),
            "cannot mount a file system here: run the test through ctest");
    const QString path = dir.filePath(name.chopped(name.endsWith('/') ? 1 : 0));
    const QString old = name.endsWith('/') ? path + "/old" : path;
    QVERIFY(!name.endsWith('/') || QDir(dir.path()).mkdir(name));
    QFile oldFile(old);
    QVERIFY(oldFile.open(QIODevice::WriteOnly) && oldFile.write("old") == 3);
    oldFile.close();
    if (folder == "ro")
        QVERIFY(mount({ "-o", "remount,ro", dir.path() }));
    if (folder == "full") {
        QFile filler(dir.filePath("filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) { }
    }
    const QStringList before = filesIn(dir.path());

    QString why;
    const bool written
        = WriteTableFile(path, TableFileFormatOf(path), OutputColumns<Entry>(), tableRows(), &why);
    const QByteArray after = contentOf(old);
    const QStringList files = filesIn(dir.path());
    if (!folder.isEmpty())
        QProcess::execute("umount", { dir.path() });
    QVERIFY(!written);
    QVERIFY2(!why.isEmpty() && why.contains(reason), qPrintable(why));
    QCOMPARE(after, QByteArray("old"));
    QCOMPARE(files, before);
}

QTEST_GUILESS_MAIN(TestWorkbookOutput)
#include "tst_workbookoutput.moc"
