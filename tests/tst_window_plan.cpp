// Setting from a plan in the window: what the plan's view says of each row against the
// table, the notices for files that are no plan, and, on two LANs with devsim, the frames a
// plan sends as a person drives it.
#include "adapters.h"
#include "calc.h"
#include "csvreader.h"
#include "devicesearchfixture.h"
#include "devsimprocess.h"
#include "groupmembership.h"
#include "myipaddredit.h"
#include "netsettext.h"
#include "output.h"
#include "planflow.h"
#include "planview.h"
#include "protocol.h"
#include "service.h"
#include "wireheader.h"
#include "workbookfixture.h"

#include <QtTest>
#include <QtWidgets>

#include <functional>
#include <memory>

namespace {
// "SN ip" a configurable reply, "SN ip -" one without libver, "SN ip @" an announcement.
QByteArray reply(const QString& row)
{
    const QStringList f = row.split(' ');
    if (f.value(2) == "@")
        return QStringLiteral("%1@%2@0001").arg(f[1], f[0]).toUtf8();
    return QStringLiteral(R"({"name":"<b>%1</b>","ip":"%2","sn":"%1"%3})")
        .arg(f[0], f[1], f.value(2) == "-" ? QString() : QStringLiteral(R"(,"libver":"1")"))
        .toUtf8();
}

// Watches for a modal widget while it lives, so that no watch of one case answers another's.
using Watch = std::unique_ptr<QTimer>;

// Calls look with the next modal widget of type T once it is shown, as a person answers it.
template <typename T> Watch whenShown(std::function<void(T*)> look)
{
    auto timer = std::make_unique<QTimer>();
    QTimer* watch = timer.get();
    watch->setInterval(20);
    QObject::connect(watch, &QTimer::timeout, watch, [watch, look] {
        if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget());
            widget && widget->isVisible()) {
            watch->stop();
            look(widget);
        }
    });
    watch->start();
    return timer;
}

QByteArray odsCell(const QByteArray& text)
{
    return "<table:table-cell office:value-type=\"string\"><text:p>" + text + "</text:p></table:table-cell>";
}

// The view's lines as "column texts | ..." per row.
QStringList viewLines(QTableView* table)
{
    QStringList lines;
    if (!table)
        return { "<no plan table>" };
    QAbstractItemModel* model = table->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model->columnCount(); ++column)
            cells << model->index(row, column).data().toString();
        lines << cells.join(" | ");
    }
    return lines;
}
}

class TestWindowPlan : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void planView_data();
    void planView();
    void planRefused_data();
    void planRefused();
    // On two LANs: devsim's devices 0012345, 00002, 00003 on the first, B0001... on the second.
    void planOverTwoLans_data();
    void planOverTwoLans();
    void roundTripThroughCalc();

private:
    bool startLans();
    // The keys, then the path typed into the file dialog and Return, as a person does.
    void fileByKeys(int key, const QString& path);
    // Searches both LANs; the commands of the search are taken.
    void searchLans();
    // The set-network commands each LAN's devsim received since the last call, up to a marker
    // sent on each adapter now.
    QList<QStringList> commandsByLan();

    std::unique_ptr<DevsimProcess> m_lans[2];
    int m_seen[2] = { 0, 0 };
    int m_fence = 0;
    QString writeFile(const QString& name, const QByteArray& bytes);
    // Opens the plan and waits for the view or a notice; look answers it.
    bool open(const QString& path, std::function<void(QDialog*)> look);

    std::unique_ptr<DeviceSearchFixture> m_fixture;
    PlanFlow* m_flow = nullptr;
    QTemporaryDir m_dir;
};

void TestWindowPlan::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Qt's own file dialog, whose name field a test can type into on every platform.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    m_fixture = std::make_unique<DeviceSearchFixture>();
    QVERIFY(m_fixture->exposed());
    m_flow = m_fixture->window.findChild<PlanFlow*>();
    QVERIFY(m_flow);
}

void TestWindowPlan::cleanupTestCase()
{
    m_fixture.reset();
}

QString TestWindowPlan::writeFile(const QString& name, const QByteArray& bytes)
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return file.fileName();
}

bool TestWindowPlan::open(const QString& path, std::function<void(QDialog*)> look)
{
    bool seen = false;
    const Watch watch = whenShown<QDialog>([&](QDialog* dialog) {
        seen = true;
        look(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    m_flow->openPlan(path);
    // Read off the window's thread: the window goes on meanwhile.
    return QTest::qWaitFor([&] { return seen && !m_flow->reading(); }, 20000);
}

void TestWindowPlan::planView_data()
{
    QTest::addColumn<QStringList>("table");
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QString>("mask"); // the form's
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("others"); // serial number and name of those not in the plan
    QTest::addColumn<QString>("setButton"); // empty: disabled

    const QStringList table { "A1 10.0.0.2", "0012345 10.0.0.3", "A3 10.0.0.4 -", "A4 10.0.0.5",
        "A4 10.0.0.6", "A5 10.0.0.7", "A6 10.0.0.8 @", "A6 10.0.0.8" };
    QTest::newRow("every state")
        << table
        << QByteArray("sn,ip,mask,gateway\n"
                      "A1,10.0.1.2,255.255.255.0,\n"
                      "12345,10.0.1.3,255.255.255.0,\n"
                      "A3,10.0.1.4,255.255.255.0,\n"
                      "A4,10.0.1.5,255.255.255.0,\n"
                      "A5,10.0.1.7,,10.0.1.254\n"
                      "ZZ,10.0.1.9,255.255.0.0,\n")
        << QString()
        << QStringList {
               "A1 | 10.0.0.2 | 10.0.1.2 | 255.255.255.0 | 10.0.1.1 |  | 设置",
               "12345 |  | 10.0.1.3 | 255.255.255.0 | 10.0.1.1 |  | 未找到；0012345 answered: a "
               "spreadsheet dropped its leading zeros",
               "A3 | 10.0.0.4 | 10.0.1.4 | 255.255.255.0 | 10.0.1.1 |  | 已找到，但不可配置",
               "A4 | 10.0.0.5 | 10.0.1.5 | 255.255.255.0 | 10.0.1.1 |  | "
               "从多个地址应答（10.0.0.5, 10.0.0.6）：不设置，请自行勾选",
               "A5 | 10.0.0.7 | 10.0.1.7 |  | 10.0.1.254 |  | 没有子网掩码：无法设置",
               "ZZ |  | 10.0.1.9 | 255.255.0.0 | 10.0.1.1 |  | 未找到",
           }
        << QStringList { "0012345 <b>0012345</b>", "A6 <b>A6</b>" } << "设置 1 台设备";
    QTest::newRow("the form's mask and gateway fill the empty cells")
        << table << QByteArray("sn,ip,mask\nA5,10.0.1.7,\nA6,10.0.1.8,255.255.0.0\n") << "255.255.255.128"
        << QStringList { "A5 | 10.0.0.7 | 10.0.1.7 | 255.255.255.128 | 10.0.1.1 |  | 设置",
               "A6 | 10.0.0.8 | 10.0.1.8 | 255.255.0.0 | 10.0.1.1 |  | 设置" }
        << QStringList { "A1 <b>A1</b>", "0012345 <b>0012345</b>", "A3 <b>A3</b>", "A4 <b>A4</b>" }
        << "设置 2 台设备";
    // A serial number that looks like markup is shown as written.
    QTest::newRow("nothing to set")
        << table << QByteArray("sn,ip,mask\n<b>SN</b>,10.0.1.7,255.255.255.0\n") << QString()
        << QStringList { "<b>SN</b> |  | 10.0.1.7 | 255.255.255.0 | 10.0.1.1 |  | 未找到" }
        << QStringList { "A1 <b>A1</b>", "0012345 <b>0012345</b>", "A3 <b>A3</b>", "A4 <b>A4</b>",
               "A5 <b>A5</b>", "A6 <b>A6</b>" }
        << QString();
}

void TestWindowPlan::planView()
{
    QFETCH(QStringList, table);
    QFETCH(QByteArray, plan);
    QFETCH(QString, mask);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, others);
    QFETCH(QString, setButton);
    m_fixture->search();
    for (const QString& row : table) {
        QByteArray payload = reply(row);
        m_fixture->window.slo_getdevice(payload.data(), row.endsWith('@') ? 0 : 1, 0);
    }
    MainWindow& window = m_fixture->window;
    window.findChild<MyIpAddrEdit*>("NetMask")->settext(mask);
    window.findChild<MyIpAddrEdit*>("Gateway")->settext(mask.isEmpty() ? QString() : "10.0.1.1");
    const QString path = writeFile("plan.csv", plan);
    QStringList shown, shownOthers;
    QString title, button;
    QVERIFY(open(path, [&](QDialog* view) {
        title = view->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(view))
            title += ": " + box->text();
        shown = viewLines(view->findChild<QTableView*>("planTable"));
        auto* notInPlan = view->findChild<QTableWidget*>("notInPlanTable");
        for (int row = 0; notInPlan && row < notInPlan->rowCount(); ++row)
            shownOthers << notInPlan->item(row, 0)->text() + ' ' + notInPlan->item(row, 2)->text();
        auto* set = view->findChild<QPushButton*>("planSetButton");
        button = set && set->isEnabled() ? set->text() : QString();
        // The view as a file: a line per row of the plan, under the view's own titles.
        auto* planView = qobject_cast<PlanView*>(view);
        QVERIFY(planView && planView->exportTo(m_dir.filePath("view.csv")));
        QFile file(m_dir.filePath("view.csv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF")); // so that Excel reads it as UTF-8
        const QStringList written = QString::fromUtf8(bytes).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(written.size(), lines.size() + 1);
        QCOMPARE(written.first(), PlanViewColumns().join(','));
        QTest::keyClick(view, Qt::Key_Escape);
    }));
    QCOMPARE(title, QString("计划"));
    QCOMPARE(shown, lines);
    QCOMPARE(shownOthers, others);
    QCOMPARE(button, setButton);
}

void TestWindowPlan::planRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("notice"); // after the file's name
    QTest::newRow("a row's address") << QByteArray("sn,ip,mask\nA1,10.0.0.300,255.255.255.0\n")
                                     << "row %2 %1.csv"
                                     << ":2: ip '10.0.0.300' is not a plain dotted IPv4 address";
    QTest::newRow("no sn column") << QByteArray("name,ip\nA1,10.0.0.3\n") << "head.csv"
                                  << ":1: no sn column";
#ifndef _WIN32
    // On Windows such a file is read in the system's code page.
    QTest::newRow("not UTF-8") << QByteArray("sn,ip,mask\n\xC9\xE8,10.0.0.3,255.255.255.0\n") << "gbk.csv"
                               << ":2: not UTF-8 text";
#endif
    // Billions of cells in a few bytes: refused within seconds, and the window goes on.
    QTest::newRow("hostile workbook") << OdsOf("<table:table-row>" + odsCell("sn") + odsCell("ip")
        + "</table:table-row><table:table-row table:number-rows-repeated=\"1000000\">"
          "<table:table-cell office:value-type=\"string\" table:number-columns-repeated=\"16384\">"
          "<text:p>x</text:p></table:table-cell></table:table-row>")
                                      << "hostile.ods"
                                      << ":200001: a row with content past row 200000";
}

void TestWindowPlan::planRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QString, notice);
    const QString path = writeFile(name, bytes);
    QString text, title;
    Qt::TextFormat format = Qt::AutoText;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(open(path, [&](QDialog* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY2(box, qPrintable(dialog->windowTitle()));
        text = box->text();
        format = box->textFormat();
        QTest::keyClick(box, Qt::Key_Return);
    }));
    QVERIFY2(text.startsWith(path + notice), qPrintable(text));
    QCOMPARE(format, Qt::PlainText);
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(m_fixture->window.findChild<QPushButton*>("planButton")->isEnabled());
}

bool TestWindowPlan::startLans()
{
    if (m_lans[0])
        return true;
    m_lans[0] = std::make_unique<DevsimProcess>(DevsimProcess::LanHost);
    m_lans[1] = std::make_unique<DevsimProcess>(DevsimProcess::SecondLanHost);
    // Digits with leading zeros on the first, as spreadsheets mangle them, and a name that
    // a spreadsheet would run as a formula.
    const QString identities = writeFile("identities.json",
        R"([{"sn":"0012345","name":"=1+1"},{"sn":"00002","name":"two"},{"sn":"00003","name":"three"}])");
    return m_lans[0]->start({ "--count", "3", "--identities", identities, "--base-ip", "10.77.0.100" })
        && m_lans[1]->start({ "--count", "3", "--sn-prefix", "B", "--base-ip", "10.78.0.100" });
}

void TestWindowPlan::fileByKeys(int key, const QString& path)
{
    const Watch watch = whenShown<QFileDialog>([path](QFileDialog* dialog) {
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (name) {
            // Typed once the dialog shows, as a person does: it fills its field when it opens.
            if (!QTest::qWaitForWindowExposed(dialog))
                qWarning("the file dialog was not shown");
            QTest::qWait(100);
            QTest::keyClicks(name, path);
            // The completer's list, which comes once the folder is read, takes a Return as
            // it does a person's: a person closes it first.
            for (int tries = 0; tries < 5 && dialog->isVisible(); ++tries) {
                QTest::qWait(200);
                if (name->completer() && name->completer()->popup()->isVisible())
                    QTest::keyClick(name->completer()->popup(), Qt::Key_Escape);
                QTest::keyClick(name, Qt::Key_Return);
            }
        }
        if (dialog->isVisible()) {
            qWarning("the file dialog did not take %s: %s", qPrintable(path),
                qPrintable(name ? name->text() : QString("no name field")));
            dialog->reject();
        }
    });
    // A window's shortcut reaches only the active window, as a person's keys do.
    m_fixture->window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_fixture->window));
    QTest::keyClick(&m_fixture->window, Qt::Key(key), Qt::ControlModifier);
}

void TestWindowPlan::searchLans()
{
    QVERIFY2(startLans(), qPrintable(m_lans[0]->error() + m_lans[1]->error()));
    MainWindow& window = m_fixture->window;
    window.findChild<MyIpAddrEdit*>("NetMask")->settext(QString());
    window.findChild<MyIpAddrEdit*>("Gateway")->settext(QString());
    m_fixture->search();
    QTRY_COMPARE_WITH_TIMEOUT(m_fixture->table->rowCount(), 12, 10000); // replies and announcements
    commandsByLan(); // what the search sent
}

QList<QStringList> TestWindowPlan::commandsByLan()
{
    const QByteArray fence = "fence " + QByteArray::number(++m_fence);
    for (const GroupAdapter& adapter : GroupAdapters(Ipv4Interfaces())) {
        if (ServiceSendCmdVia(3, fence.constData(), adapter) != 0)
            return { { "<fence not sent>" } };
    }
    QList<QStringList> commands;
    for (int lan = 0; lan < 2; ++lan) {
        const auto isFence = [&](const QJsonObject& line) {
            return line.value("cmd").toInt() == 3
                && QByteArray::fromHex(line.value("hex").toString().toLatin1()).mid(kHeaderSize) == fence;
        };
        DevsimProcess& devsim = *m_lans[lan];
        const int from = m_seen[lan];
        if (!devsim.waitFor([&](const DevsimProcess::Lines& lines) {
                return std::any_of(lines.begin() + from, lines.end(), isFence);
            }))
            return { { "<fence lost>" } };
        const DevsimProcess::Lines& lines = devsim.received();
        m_seen[lan] = int(lines.size());
        QStringList seen;
        for (int k = from; k < lines.size() && !isFence(lines.at(k)); ++k) {
            const QJsonObject& line = lines.at(k);
            if (line.value("cmd").toInt() == 1 && line.value("port").toInt() == kCommandPort)
                seen << QString::fromUtf8(
                    QByteArray::fromHex(line.value("hex").toString().toLatin1()).mid(kHeaderSize));
        }
        commands << seen;
    }
    return commands;
}

void TestWindowPlan::planOverTwoLans_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QString>("answer"); // to the view, then to a notice: "return", "escape"
    QTest::addColumn<QString>("hint"); // a line of the view that must show
    QTest::addColumn<QStringList>("first"); // the commands on each LAN, in order
    QTest::addColumn<QStringList>("second");
    const QString m = "255.255.255.0";
    // Interleaved, so that consecutive commands leave by different adapters; 00002 is left out.
    const QByteArray plan = "sn,ip,mask\n00003,10.77.0.53,255.255.255.0\nB0002,10.78.0.52,255.255.0.0\n"
                            "0012345,10.77.0.51,255.255.255.0\nB0001,10.78.0.51,255.255.0.0\n";
    QTest::newRow("Return sets the plan's devices, each on its LAN")
        << plan << "return" << QString()
        << QStringList { WindowNetSetText("00003", "10.77.0.53", m, "10.77.0.1"),
               WindowNetSetText("0012345", "10.77.0.51", m, "10.77.0.1") }
        << QStringList { WindowNetSetText("B0002", "10.78.0.52", "255.255.0.0", "10.78.0.1"),
               WindowNetSetText("B0001", "10.78.0.51", "255.255.0.0", "10.78.0.1") };
    QTest::newRow("Escape sends nothing") << plan << "escape" << QString() << QStringList() << QStringList();
    QTest::newRow("a mangled serial number: the others are set, the hint shown")
        << QByteArray("sn,ip,mask\n2,10.77.0.52,255.255.255.0\nB0003,10.78.0.53,255.255.255.0\n") << "return"
        << "2 |  | 10.77.0.52 | 255.255.255.0 | 10.77.0.1 |  | 未找到；00002 answered: a spreadsheet dropped "
           "its "
           "leading zeros"
        << QStringList() << QStringList { WindowNetSetText("B0003", "10.78.0.53", m, "10.78.0.1") };
    // 10.77.0.102 is where 00002 answers, and it stays: Return takes the notice's default.
    QTest::newRow("a taken address: Cancel is the default and sends nothing")
        << QByteArray("sn,ip,mask\n0012345,10.77.0.102,255.255.255.0\nB0001,10.78.0.51,255.255.0.0\n")
        << "return" << QString() << QStringList() << QStringList();
}

void TestWindowPlan::planOverTwoLans()
{
    if (qEnvironmentVariableIsEmpty("LAN2_NETNS"))
        QSKIP("needs two LAN hosts; runs as tst_window_plan_lans");
    QFETCH(QByteArray, plan);
    QFETCH(QString, answer);
    QFETCH(QString, hint);
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    searchLans();
    if (QTest::currentTestFailed())
        return;
    const QString path = writeFile("lans.csv", plan);
    QStringList lines;
    QString noticeDefault;
    bool viewSeen = false;
    Watch noticeWatch;
    const Watch viewWatch = whenShown<PlanView>([&](PlanView* view) {
        viewSeen = true;
        lines = viewLines(view->findChild<QTableView*>("planTable"));
        if (answer == "return")
            noticeWatch = whenShown<QMessageBox>([&](QMessageBox* notice) {
                noticeDefault = notice->defaultButton() ? notice->defaultButton()->text() : QString();
                QTest::keyClick(notice, Qt::Key_Return);
            });
        QTest::keyClick(view, answer == "return" ? Qt::Key_Return : Qt::Key_Escape);
    });
    fileByKeys(Qt::Key_O, path);
    QTRY_VERIFY_WITH_TIMEOUT(viewSeen, 20000);
    // The address check, on the link, before anything is sent.
    QTRY_VERIFY_WITH_TIMEOUT(m_fixture->searchButton->isEnabled(), 20000);
    if (!hint.isEmpty())
        QVERIFY2(lines.contains(hint), qPrintable(lines.join('\n')));
    if (QByteArray(QTest::currentDataTag()).contains("taken"))
        QCOMPARE(noticeDefault, QString("取消"));
    const QList<QStringList> commands = commandsByLan();
    QCOMPARE(commands.value(0), first);
    QCOMPARE(commands.value(1), second);
    // Column 3 of the row set (its reply's; the announcement's keeps what it said) shows the new address.
    for (const QString& command : first + second) {
        const QJsonObject sent = QJsonDocument::fromJson(command.toUtf8()).object();
        QStringList shown;
        for (QTableWidgetItem* item :
            m_fixture->table->findItems(sent.value("sn").toString(), Qt::MatchExactly))
            shown << m_fixture->cell(item->row(), 3);
        QVERIFY2(shown.contains(sent.value("ip").toString()), qPrintable(shown.join(' ')));
    }
}

// Ctrl+S to a workbook that Calc reads with every text exact; its ip column edited and saved
// by Calc as a workbook; Ctrl+O, Return: the plan's devices get their frames, each on its
// LAN, in the plan's order, and the device left out gets nothing.
void TestWindowPlan::roundTripThroughCalc()
{
    if (qEnvironmentVariableIsEmpty("LAN2_NETNS"))
        QSKIP("needs two LAN hosts; runs as tst_window_plan_lans");
    searchLans();
    if (QTest::currentTestFailed())
        return;
    QDir(m_dir.path()).mkpath("trip");
    const QString list = m_dir.filePath("trip/list.xlsx");
    fileByKeys(Qt::Key_S, list);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(list), 20000);

    QByteArray said;
    const QString profile = m_dir.filePath("profile");
    QVERIFY2(RunCalc(profile, { "--convert-to", "csv:Text - txt - csv (StarCalc):" + CalcCsvOptions() }, list,
                 &said),
        said.constData());
    QVector<QStringList> records;
    const QString text = CalcCsv(m_dir.filePath("trip/list.csv"));
    QVERIFY2(ReadCsv(text, &records), qPrintable(text));
    QCOMPARE(records.value(0), OutputColumns<Entry>());
    const int name = 1, ip = 2, sn = 3;
    const auto named = std::find_if(records.begin(), records.end(),
        [&](const QStringList& r) { return r.value(sn) == "0012345" && r.value(name) == "=1+1"; });
    QVERIFY2(named != records.end(), qPrintable(text));

    // A person gives each device of both LANs a new address, in the list's order, and
    // deletes the rows of 00002.
    QStringList first, second;
    QString edited = OutputColumns<Entry>().join(',') + "\r\n";
    for (int r = 1; r < records.size(); ++r) {
        QStringList cells = records.at(r);
        if (cells.value(sn) == "00002")
            continue;
        const bool onFirst = cells.value(ip).startsWith("10.77.");
        // Fixed new addresses: an earlier test may have moved the devices already.
        const QString address = cells.value(ip).section('.', 0, 2) + '.' + QString::number(150 + r);
        if (cells.value(0) == "reply")
            (onFirst ? first : second) << WindowNetSetText(
                cells.value(sn), address, "255.255.255.0", address.section('.', 0, 2) + ".1");
        cells[ip] = address;
        for (QString& cell : cells)
            cell = '"' + cell.replace('"', "\"\"") + '"';
        edited += cells.join(',') + "\r\n";
    }
    QDir(m_dir.path()).mkpath("edited");
    const QString csv = writeFile("edited/plan.csv", edited.toUtf8());
    QStringList textColumns;
    for (int c = 1; c <= OutputColumns<Entry>().size(); ++c)
        textColumns << QStringLiteral("%1/2").arg(c);
    QVERIFY2(
        RunCalc(profile,
            { "--infilter=CSV:" + CalcCsvOptions() + "," + textColumns.join('/'), "--convert-to", "xlsx" },
            csv, &said),
        said.constData());
    const QString plan = m_dir.filePath("edited/plan.xlsx");
    QVERIFY2(QFile::exists(plan), said.constData());

    MainWindow& window = m_fixture->window;
    window.findChild<MyIpAddrEdit*>("NetMask")->settext("255.255.255.0");
    bool viewSeen = false;
    fileByKeys(Qt::Key_O, plan); // the file dialog is answered within
    QString refused;
    // Then the view, or a notice that says why not.
    const Watch watch = whenShown<QDialog>([&](QDialog* dialog) {
        viewSeen = qobject_cast<PlanView*>(dialog);
        if (auto* box = qobject_cast<QMessageBox*>(dialog))
            refused = box->text();
        QTest::keyClick(dialog, viewSeen ? Qt::Key_Return : Qt::Key_Escape);
    });
    QTRY_VERIFY2_WITH_TIMEOUT(viewSeen, qPrintable(refused), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(m_fixture->searchButton->isEnabled(), 20000);
    const QList<QStringList> commands = commandsByLan();
    QCOMPARE(commands.value(0), first);
    QCOMPARE(commands.value(1), second);
}

QTEST_MAIN(TestWindowPlan)
#include "tst_window_plan.moc"
