// Device payloads into table rows, the search's reset, ticking every row, copying rows, and
// exporting the list.
#include "csvrecords.h"
#include "listexport.h"
#include "output.h"
#include "plan.h"
#include "windowfixture.h"
#include "workbookreader.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

namespace {
// Expected cells of one row: a null string stands for "no item".
using Cells = QVector<QString>;
const QString kNone;
}

class TestTable : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void jsonReplies_data();
    void jsonReplies();
    void droppedReplies_data();
    void droppedReplies();
    void announcements_data();
    void announcements();
    void duplicatesGetConsecutiveOrdinals();
    void searchEmptiesTableAndRestartsOrdinals();
    void tickAllTouchesOnlyTickableRows();
    void ctrlCCopiesSelectedRowsWithHeader();
    void exportWritesThePlanOfTheTable_data();
    void exportWritesThePlanOfTheTable();
    void ctrlSAndTheButtonAskWhere();
    void failedExportSaysWhyAndChangesNothing_data();
    void failedExportSaysWhyAndChangesNothing();

private:
    void addExportRows();

    void addJson(const QByteArray& payload);
    void addAnnouncement(const QByteArray& payload);
    void compareRow(int row, const Cells& cells);

    std::unique_ptr<WindowFixture> fixture;
    ListExport* exporter = nullptr;
    QTemporaryDir dir;
    MainWindow* window = nullptr;
    QTableWidget* table = nullptr;
};

void TestTable::initTestCase()
{
    fixture = std::make_unique<WindowFixture>();
    window = &fixture->window;
    table = fixture->table;
    QVERIFY(fixture->exposed());
    // Qt's own file dialog, which a test can answer, under Wine too.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    exporter = window->findChild<ListExport*>();
    QVERIFY(exporter);
    QVERIFY(dir.isValid());
}

void TestTable::init()
{
    // Each case starts from a fresh search; its datagrams go nowhere but loopback.
    fixture->search();
    QCOMPARE(table->rowCount(), 0);
}

void TestTable::cleanupTestCase()
{
    fixture.reset();
}

void TestTable::addJson(const QByteArray& payload)
{
    QByteArray copy = payload;
    window->slo_getdevice(copy.data(), 1, 0);
}

void TestTable::addAnnouncement(const QByteArray& payload)
{
    QByteArray copy = payload;
    window->slo_getdevice(copy.data(), 0, copy.size());
}

void TestTable::compareRow(int row, const Cells& cells)
{
    for (int column = 1; column < 6; ++column) {
        QTableWidgetItem* item = table->item(row, column);
        const QString& expected = cells.at(column - 1);
        QVERIFY2(bool(item) == !expected.isNull(), qPrintable(QString("column %1").arg(column)));
        if (item)
            QCOMPARE(item->text(), expected);
    }
}

void TestTable::jsonReplies_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("tickable");
    QTest::addColumn<Cells>("cells"); // columns 1 to 5
    QTest::newRow("full reply") << QByteArray(
        R"({"name":"Cam","ip":"10.0.0.2","sn":"S1","mode":"MODEID7","libver":"2"})")
                                << true << Cells { "1", "Cam", "10.0.0.2", "S1", "ID7" };
    QTest::newRow("upper-case NAME with text around")
        << QByteArray(R"(junk {"NAME":"A"} trailing)") << false << Cells { "1", "A", kNone, kNone, kNone };
    QTest::newRow("no name") << QByteArray(R"({"ip":"1.2.3.4","sn":"X","libver":"1"})") << true
                             << Cells { "1", kNone, "1.2.3.4", "X", kNone };
    QTest::newRow("mode of seven") << QByteArray(R"({"mode":"ABCDEFG"})") << false
                                   << Cells { "1", kNone, kNone, kNone, "EFG" };
    QTest::newRow("mode of four") << QByteArray(R"({"mode":"ABCD"})") << false
                                  << Cells { "1", kNone, kNone, kNone, "" };
    QTest::newRow("mode a number") << QByteArray(R"({"mode":12345678})") << false
                                   << Cells { "1", kNone, kNone, kNone, "" };
    QTest::newRow("non-string values") << QByteArray(R"({"name":null,"ip":7,"sn":{"a":1},"libver":false})")
                                       << true << Cells { "1", "", "", "", kNone };
    QTest::newRow("first of duplicate keys") << QByteArray(R"({"sn":"first","SN":"second","sn":"third"})")
                                             << false << Cells { "1", kNone, kNone, "first", kNone };
    QTest::newRow("UTF-8 name") << QByteArray("{\"name\":\"caf\xC3\xA9\"}") << false
                                << Cells { "1", QString::fromUtf8("café"), kNone, kNone, kNone };
}

void TestTable::jsonReplies()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, tickable);
    QFETCH(Cells, cells);
    addJson(payload);
    QCOMPARE(table->rowCount(), 1);
    compareRow(0, cells);
    QTableWidgetItem* box = table->item(0, 0);
    QCOMPARE(bool(box), tickable);
    if (box) {
        QCOMPARE(box->checkState(), Qt::Unchecked);
        QVERIFY(box->text().isEmpty());
    }
    QCOMPARE(table->item(0, 1)->textAlignment(), int(Qt::AlignCenter));
    if (QTableWidgetItem* code = table->item(0, 5))
        QCOMPARE(code->textAlignment(), int(Qt::AlignCenter));
}

void TestTable::droppedReplies_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("libver alone") << QByteArray(R"({"libver":"1.0"})");
    QTest::newRow("no brace") << QByteArray(R"("name":"x")");
    QTest::newRow("does not parse") << QByteArray(R"({"name":"x",)");
    QTest::newRow("unrelated keys") << QByteArray(R"({"model":"x","serial":"y"})");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("nested too deep") << QByteArray(2000, '[').prepend("{\"name\":");
}

void TestTable::droppedReplies()
{
    QFETCH(QByteArray, payload);
    addJson(payload);
    QCOMPARE(table->rowCount(), 0);
    // Nothing was counted either: the next row is number 1.
    addJson(R"({"sn":"next"})");
    QCOMPARE(fixture->cell(0, 1), QString("1"));
}

void TestTable::announcements_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<Cells>("cells");
    QTest::newRow("four parts") << QByteArray("192.168.1.20@SN0001@ID7@extra")
                                << Cells { "1", kNone, "192.168.1.20", "SN0001", "ID7" };
    QTest::newRow("two separators then X") << QByteArray("@@X") << Cells { "1", kNone, "", "", "X" };
    QTest::newRow("no separator") << QByteArray("just text")
                                  << Cells { "1", kNone, "just text", kNone, kNone };
    QTest::newRow("empty text") << QByteArray("") << Cells { "1", kNone, "", kNone, kNone };
    QTest::newRow("Latin-1 byte") << QByteArray("caf\xE9@S")
                                  << Cells { "1", kNone, QString::fromLatin1("caf\xE9"), "S", kNone };
}

void TestTable::announcements()
{
    QFETCH(QByteArray, payload);
    QFETCH(Cells, cells);
    addAnnouncement(payload);
    QCOMPARE(table->rowCount(), 1);
    compareRow(0, cells);
    QVERIFY(!table->item(0, 0));
    QCOMPARE(table->item(0, 1)->textAlignment(), int(Qt::AlignCenter));
    if (QTableWidgetItem* code = table->item(0, 5))
        QCOMPARE(code->textAlignment(), 0);
}

void TestTable::duplicatesGetConsecutiveOrdinals()
{
    const QByteArray reply = R"({"name":"d","sn":"SAME","libver":"1"})";
    addJson(reply);
    addJson(reply);
    addAnnouncement("1.1.1.1@SAME@ID");
    QCOMPARE(table->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(fixture->cell(row, 1), QString::number(row + 1));
        QCOMPARE(fixture->cell(row, 4), QString("SAME"));
    }
}

void TestTable::searchEmptiesTableAndRestartsOrdinals()
{
    auto* header = table->horizontalHeader();
    const QPoint box(header->sectionViewportPosition(0) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, box);
    addJson(R"({"sn":"a","libver":"1"})");
    addJson(R"({"sn":"b","libver":"1"})");
    table->item(0, 0)->setCheckState(Qt::Checked);

    fixture->search();
    QCOMPARE(table->rowCount(), 0);
    addJson(R"({"sn":"c","libver":"1"})");
    QCOMPARE(fixture->cell(0, 1), QString("1"));
    QCOMPARE(table->item(0, 0)->checkState(), Qt::Unchecked);

    // The header box stayed ticked through the search: one more click unticks everything.
    QSignalSpy toggled(header, SIGNAL(signalStateTrange(bool)));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, box);
    QCOMPARE(toggled.size(), 1);
    QCOMPARE(toggled.first().first().toBool(), false);
}

void TestTable::tickAllTouchesOnlyTickableRows()
{
    addAnnouncement("1.1.1.1@A@B");
    QVERIFY(QMetaObject::invokeMethod(window, "on_table_checkbox_all", Q_ARG(bool, true)));
    QVERIFY(!table->item(0, 0));
    addJson(R"({"sn":"t1","libver":"1"})");
    addJson(R"({"sn":"plain"})");
    addJson(R"({"sn":"t2","libver":"1"})");
    QVERIFY(QMetaObject::invokeMethod(window, "on_table_checkbox_all", Q_ARG(bool, true)));
    QCOMPARE(table->item(1, 0)->checkState(), Qt::Checked);
    QVERIFY(!table->item(2, 0));
    QCOMPARE(table->item(3, 0)->checkState(), Qt::Checked);
    QVERIFY(QMetaObject::invokeMethod(window, "on_table_checkbox_all", Q_ARG(bool, false)));
    QCOMPARE(table->item(1, 0)->checkState(), Qt::Unchecked);
    QCOMPARE(table->item(3, 0)->checkState(), Qt::Unchecked);
}

void TestTable::ctrlCCopiesSelectedRowsWithHeader()
{
    addJson(R"({"name":"=1+1","ip":"10.0.0.7","sn":"000123","mode":"ABCDID7","libver":"1"})");
    addAnnouncement("10.0.0.8@SN2@ID8");
    addJson("{\"name\":\"<b>x</b>\\ty\",\"ip\":\"10.0.0.9\",\"sn\":\"0042\"}");
    const auto click = [&](int row, Qt::KeyboardModifiers modifiers) {
        const QPoint at = table->visualItemRect(table->item(row, 1)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, modifiers, at);
    };
    // Picked from the bottom up, copied in table order; the row between stays out.
    click(2, Qt::NoModifier);
    click(0, Qt::ControlModifier);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);

    const QMimeData* copied = clipboard->mimeData();
    QVERIFY(copied);
    QCOMPARE(copied->text(),
        QString::fromUtf8("序号\t设备名称\tIP地址\t序列号\t识别码\n"
                          "1\t=1+1\t10.0.0.7\t000123\tID7\n"
                          "3\t<b>x</b> y\t10.0.0.9\t0042\t\n"));
    const QString html = copied->html();
    QVERIFY2(html.contains(">000123</td>") && html.contains(">=1+1</td>"), qPrintable(html));
    QVERIFY2(html.contains(">&lt;b&gt;x&lt;/b&gt; y</td>") && !html.contains("<b>"), qPrintable(html));
    QVERIFY(html.contains(QString::fromUtf8(">序列号</th>")));
    QVERIFY(!html.contains("SN2"));

    // Nothing selected: the clipboard keeps what it had, rather than the current cell.
    table->clearSelection();
    clipboard->setText("kept");
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QString("kept"));
}

// Records of an exported file as a spreadsheet shows them: a CSV cell's guard taken off.
QList<QStringList> exportedRecords(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    QList<CsvFileRecord> records;
    TextProblem problem;
    const bool workbook = IsWorkbookContainer(bytes);
    QString text, used;
    if (workbook
            ? !ReadWorkbookRecords(bytes, &records, &problem)
            : !DecodeText(bytes, {}, &text, &used, &problem) || !ReadCsvRecords(text, &records, &problem))
        return {};
    QList<QStringList> read;
    for (const CsvFileRecord& record : records) {
        QStringList fields;
        for (const QString& field : record.fields)
            fields << (workbook ? field : WithoutFormulaGuard(field));
        // A workbook's row ends at its last cell that holds something.
        while (!read.isEmpty() && fields.size() < read.first().size())
            fields << QString();
        read << fields;
    }
    return read;
}

void TestTable::addExportRows()
{
    addJson(R"({"name":"=1+1","ip":"10.0.0.7","sn":"0012345","mode":"ABCDID7","libver":"1"})");
    addAnnouncement("10.0.0.8@SN2@ID8");
}

void TestTable::exportWritesThePlanOfTheTable_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("workbook") << "list.xlsx";
    QTest::newRow("CSV, by a suffix in capitals") << "list.CSV";
}

// The file holds the table's rows in the companion's columns, every text exact, and reads
// back as a plan of the table's serial numbers and addresses.
void TestTable::exportWritesThePlanOfTheTable()
{
    QFETCH(QString, name);
    addExportRows();
    const QString path = dir.filePath(name);
    QVERIFY(exporter->exportTo(path));

    const QList<QStringList> records = exportedRecords(path);
    QCOMPARE(records.size(), 3);
    QCOMPARE(records.at(0), OutputColumns<Entry>());
    const QStringList interfaces { window->listedDevices().at(0).entry.interfaceName,
        window->listedDevices().at(1).entry.interfaceName };
    QCOMPARE(records.at(1),
        QStringList({ "reply", "=1+1", "10.0.0.7", "0012345", "ID7", "true", "", interfaces.at(0) }));
    QCOMPARE(records.at(2),
        QStringList({ "announce", "", "10.0.0.8", "SN2", "ID8", "false", "", interfaces.at(1) }));
    if (name.endsWith("CSV")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY2(bytes.startsWith("\xEF\xBB\xBF"
                                  "kind,name,ip,sn,")
                && bytes.contains(",'=1+1,") && bytes.endsWith("\r\n"),
            bytes.constData());
    }

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<Assignment> plan;
    PlanError problem;
    QVERIFY2(
        ReadPlan(file.readAll(), {}, "255.255.255.0", QString(), &plan, &problem), qPrintable(problem.text));
    // The announcement's row repeats what a reply says of a device: a plan leaves it out.
    QCOMPARE(plan.size(), 1);
    QCOMPARE(plan.at(0).sn, QString("0012345"));
    QCOMPARE(plan.at(0).ip, 0x0a000007u);
    QCOMPARE(window->noteLabel()->textFormat(), Qt::PlainText);
    QVERIFY2(window->noteLabel()->text().contains(QDir::toNativeSeparators(path)),
        qPrintable(window->noteLabel()->text()));
}

// Ctrl+S and the button open the save dialog; a name without a suffix takes the chosen
// filter's, and a cancelled dialog writes nothing.
void TestTable::ctrlSAndTheButtonAskWhere()
{
    addExportRows();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QString title, firstFilter;
    QStringList filters;
    bool cancel = false;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        answer.stop();
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        firstFilter = dialog->selectedNameFilter();
        if (cancel) {
            dialog->reject();
            return;
        }
        dialog->selectNameFilter(filters.value(1));
        // Typed, as a person would: selectFile leaves a focused name field as it is.
        QLineEdit* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (!name) {
            dialog->reject(); // and no file is found below
            return;
        }
        name->clear();
        QTest::keyClicks(name, QDir::toNativeSeparators(dir.filePath("chosen")));
        QMetaObject::invokeMethod(dialog, "accept"); // as the dialog's button does
    });
    answer.start();
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(title, QString::fromUtf8("导出列表"));
    QCOMPARE(filters,
        QStringList({ QString::fromUtf8("工作簿 (*.xlsx)"), QString::fromUtf8("CSV 文件 (*.csv)") }));
    QCOMPARE(firstFilter, filters.first());
    QCOMPARE(exportedRecords(dir.filePath("chosen.csv")).size(), 3);

    auto* button = window->findChild<QPushButton*>("exportButton");
    QVERIFY(button && button->isVisible());
    QCOMPARE(button->geometry(), QRect(980, 345, 255, 27));
    QCOMPARE(button->text(), QString::fromUtf8("导出列表…"));
    cancel = true;
    title.clear();
    const QString note = window->noteLabel()->text();
    answer.start();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(title, QString::fromUtf8("导出列表"));
    QCOMPARE(firstFilter, filters.at(1)); // as last time
    QCOMPARE(window->noteLabel()->text(), note);
    QCOMPARE(QDir(dir.path()).entryList({ "chosen*" }), QStringList({ "chosen.csv" }));
}

void TestTable::failedExportSaysWhyAndChangesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a folder that is not there") << "missing/list.xlsx"
                                                << "does not exist";
    QTest::newRow("a folder by the name") << "folder.csv"
                                          << "folder";
}

void TestTable::failedExportSaysWhyAndChangesNothing()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    addExportRows();
    QTemporaryDir here;
    QVERIFY(QDir(here.path()).mkdir("folder.csv"));
    QFile old(here.filePath("folder.csv/old.txt"));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    window->noteLabel()->setText("before");

    const QString path = here.filePath(name);
    QVERIFY(!exporter->exportTo(path));
    auto* box = window->findChild<QMessageBox*>();
    QVERIFY(box);
    QTRY_VERIFY(box->isVisible());
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QVERIFY2(box->text().contains(QDir::toNativeSeparators(path)) && box->text().contains(reason),
        qPrintable(box->text()));
    box->close();
    QTRY_VERIFY(!window->findChild<QMessageBox*>());
    QCOMPARE(window->noteLabel()->text(), QString("before"));
    QCOMPARE(QDir(here.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList({ "folder.csv" }));
    QCOMPARE(
        QDir(here.filePath("folder.csv")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList({ "old.txt" }));
}

QTEST_MAIN(TestTable)
#include "tst_table.moc"
