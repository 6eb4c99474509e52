#include "ingestcommon.h"

#include "devsimprocess.h"

#include <QtCore>

// The command line's search against one traffic case: devsim answers its discovery request,
// and the entries it prints are counted.
Ingest cliIngest(const Traffic& traffic)
{
    Ingest result;
    DevsimProcess devsim;
    if (!startDevsim(devsim, traffic, &result))
        return result;
    const int waitSeconds = traffic.burst ? 3 : kPacedSeconds + 3;
    QProcess cli;
    cli.start(QStringLiteral(CLI_PATH),
        { "search", "--interface", "lo", "--format", "csv", "--wait", QString::number(waitSeconds) });
    if (!cli.waitForStarted(10000)
        || !runEventsUntil([&] { return cli.state() == QProcess::NotRunning; }, (waitSeconds + 30) * 1000)) {
        cli.kill();
        cli.waitForFinished(5000);
        result.error = QStringLiteral("devicesearch-cli did not finish");
        return result;
    }
    const QByteArray out = cli.readAllStandardOutput();
    const QString summary = QString::fromUtf8(cli.readAllStandardError());
    // Replies only: devsim's own device also answers the announcement query.
    for (const QByteArray& line : out.split('\n'))
        result.rows += line.startsWith("reply,") ? 1 : 0;
    const QRegularExpressionMatch dropped = QRegularExpression("(\\d+) datagrams dropped").match(summary);
    result.drops = dropped.hasMatch() ? dropped.captured(1).toLongLong() : -1;
    for (const QJsonObject& line : devsim.received()) {
        if (line.contains("sent"))
            result.sent = static_cast<long long>(line.value("sent").toDouble());
    }
    devsim.stop();
    return result;
}
