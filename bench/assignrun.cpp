#include "ingestcommon.h"

#include "devsimprocess.h"
#include "numberedplan.h"

#include <QtCore>

// devicesearch-cli assign on 1,000 devsim devices from a plan file: the time from the first
// command to the last confirmation, as the command line reports it.
Row assignRow(bool* complete)
{
    constexpr int kDevices = 1000;
    Row row;
    row.measure = QStringLiteral("devicesearch-cli assign, plan of %1 devices: confirmed, time to the last")
                      .arg(thousands(kDevices));
    row.bare = row.ratio = QStringLiteral("–");
    row.target = QStringLiteral("all confirmed");
    row.met = QStringLiteral("–");
    DevsimProcess devsim;
    if (!devsim.start({ "--count", QString::number(kDevices), "--base-ip", "10.30.0.0" })) {
        row.program = devsim.error();
        *complete = false;
        return row;
    }
    QTemporaryDir dir;
    QFile plan(dir.filePath("plan.csv"));
    const QByteArray text = NumberedPlan(kDevices, "10.40");
    if (!dir.isValid() || !plan.open(QIODevice::WriteOnly) || plan.write(text) != text.size()) {
        row.program = QStringLiteral("cannot write the plan");
        *complete = false;
        return row;
    }
    plan.close();
    QProcess cli;
    // Its log goes with the plan, never into the home folder.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), dir.path());
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(CLI_PATH),
        { "assign", "--plan", plan.fileName(), "--mask", "255.255.0.0", "--interface", "lo", "--wait", "2",
            "--verify", "30", "--format", "csv" });
    if (!cli.waitForStarted(10000)
        || !runEventsUntil([&] { return cli.state() == QProcess::NotRunning; }, 60000)) {
        cli.kill();
        cli.waitForFinished(5000);
        row.program = QStringLiteral("devicesearch-cli did not finish");
        *complete = false;
        return row;
    }
    const QString summary = QString::fromUtf8(cli.readAllStandardError());
    const QRegularExpressionMatch m
        = QRegularExpression("(\\d+) of (\\d+) devices confirmed in ([0-9.]+) s").match(summary);
    if (!m.hasMatch()) {
        row.program = QStringLiteral("no summary: ") + summary.trimmed().left(200);
        *complete = false;
        return row;
    }
    row.program = QStringLiteral("%1 of %2 confirmed, %3 s").arg(m.captured(1), m.captured(2), m.captured(3));
    row.met = yesNo(m.captured(1) == m.captured(2));
    return row;
}
