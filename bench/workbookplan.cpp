// The plan reader on a 100,000-row plan, as CSV, .xlsx and .ods: for each, the file's size,
// the time to read and check it and the peak memory of a process that does only that; then
// the window's way with it: read, held against a search's devices and its view shown.
// Prints figures and asserts nothing.
#include "addressrules.h"
#include "plan.h"
#include "planmatch.h"
#include "planview.h"
#include "workbookfixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QWindow>

#include <cstdio>

namespace {
constexpr int kRows = 100000;

// The peak resident memory of this process, in MiB, as the kernel counts it.
double peakMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return -1;
}

// Reads and checks one plan file; prints "rows seconds peak" or the problem.
int readOne(const QString& path)
{
    const double before = peakMiB();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    QElapsedTimer timer;
    timer.start();
    QList<Assignment> plan;
    PlanError problem;
    const bool ok = ReadPlan(file.readAll(), {}, QStringLiteral("255.0.0.0"),
                        QStringLiteral("10.255.255.254"), &plan, &problem)
        && CheckAssignments(plan, &problem);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (!ok) {
        printf("refused %d: %s\n", problem.line, qPrintable(problem.text));
        return 1;
    }
    printf("%d %.2f %.0f %.0f\n", plan.size(), seconds, before, peakMiB());
    return 0;
}

// Devices a search found: the plan's first thousand rows and a hundred others.
QList<ListedDevice> foundDevices()
{
    QList<ListedDevice> found;
    for (int k = 0; k < 1100; ++k) {
        ListedDevice d;
        d.entry.device.configurable = true;
        d.entry.device.sn = QStringLiteral("SN%1").arg(k < 1000 ? k : kRows + k, 6, 10, QLatin1Char('0'));
        d.entry.device.ip = AddressText(0xC0A80000 + uint32_t(k));
        d.entry.interfaceName = QStringLiteral("eth0");
        d.adapter = d.heardOn = 2;
        found.append(d);
    }
    return found;
}

// As the window opens a plan: read and checked, held against the devices, the view shown;
// prints "rows read-seconds shown-seconds peak".
int viewOne(const QString& path)
{
    QElapsedTimer timer;
    timer.start();
    PlanViewData data;
    PlanError problem;
    if (!ReadPlanFile(path,
            { {}, QStringLiteral("255.0.0.0"), QStringLiteral("10.255.255.254"), MaskMissing::Allowed },
            &data.plan, &problem)) {
        printf("refused %d: %s\n", problem.line, qPrintable(problem.text));
        return 1;
    }
    const double read = timer.nsecsElapsed() / 1e9;
    data.listed = foundDevices();
    QList<FoundAnswer> found;
    for (const ListedDevice& d : qAsConst(data.listed))
        found.append({ *d.entry.device.sn, *d.entry.device.ip, d.heardOn, true, true });
    data.match = MatchPlan(data.plan, found);
    PlanView view(&data, nullptr);
    view.show();
    while (!view.windowHandle() || !view.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    view.findChild<QTableView*>(QStringLiteral("planTable"))->viewport()->repaint();
    printf("%d %.2f %.2f %.0f\n", data.plan.size(), read, timer.nsecsElapsed() / 1e9, peakMiB());
    return 0;
}
}

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--view") == 0) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return viewOne(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--read") == 0)
        return readOne(QString::fromLocal8Bit(argv[2]));

    QTemporaryDir dir;
    QList<QStringList> rows { { QStringLiteral("序列号"), QStringLiteral("IP地址"),
        QStringLiteral("备注") } };
    QByteArray csv = "序列号,IP地址,备注\r\n", ods;
    for (int k = 0; k < kRows; ++k) {
        const QString sn = QStringLiteral("SN%1").arg(k, 6, 10, QLatin1Char('0'));
        const QString ip = AddressText(0x0A000002 + uint32_t(k));
        const QString note = QStringLiteral("rack %1").arg(k / 40);
        rows.append({ sn, ip, note });
        csv += (sn + ',' + ip + ',' + note + "\r\n").toUtf8();
    }
    for (const QStringList& row : qAsConst(rows)) {
        ods += "<table:table-row>";
        for (const QString& cell : row)
            ods += "<table:table-cell office:value-type=\"string\"><text:p>" + cell.toUtf8()
                + "</text:p></table:table-cell>";
        ods += "</table:table-row>";
    }
    const QList<QPair<QString, QByteArray>> files { { QStringLiteral("plan.csv"), csv },
        { QStringLiteral("plan.xlsx"), XlsxOfTexts(rows) },
        { QStringLiteral("plan.ods"),
            OdsOf(ods + "<table:table-row table:number-rows-repeated=\"948575\"/>") } };
    printf(
        "plan reader, %d rows: file, size, read and checked, peak memory (of which before reading)\n", kRows);
    for (const auto& [name, bytes] : files) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return 1;
        file.close();
        QProcess reader;
        reader.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--read"), file.fileName() });
        reader.waitForFinished(600000);
        const QList<QByteArray> figures = reader.readAllStandardOutput().trimmed().split(' ');
        if (reader.exitCode() != 0 || figures.size() != 4) {
            printf("  %-10s %s\n", qPrintable(name), figures.join(' ').constData());
            continue;
        }
        printf("  %-10s %6.1f MiB  %5s s  %4s MiB (%s)\n", qPrintable(name), bytes.size() / 1048576.0,
            figures.at(1).constData(), figures.at(3).constData(), figures.at(2).constData());
    }
    printf("the window's plan view, %d rows against 1,100 devices found: file, read and checked, view shown, "
           "peak "
           "memory\n",
        kRows);
    for (const auto& [name, bytes] : files) {
        QProcess viewer;
        viewer.start(
            QCoreApplication::applicationFilePath(), { QStringLiteral("--view"), dir.filePath(name) });
        viewer.waitForFinished(600000);
        const QList<QByteArray> figures = viewer.readAllStandardOutput().trimmed().split(' ');
        if (viewer.exitCode() != 0 || figures.size() != 4) {
            printf("  %-10s %s\n", qPrintable(name), figures.join(' ').constData());
            continue;
        }
        printf("  %-10s %5s s  %5s s  %4s MiB\n", qPrintable(name), figures.at(1).constData(),
            figures.at(2).constData(), figures.at(3).constData());
    }
    return 0;
}
