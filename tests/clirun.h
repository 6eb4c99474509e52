// Runs devicesearch-cli for a test and keeps its status and both outputs.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringList>

struct CliRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

class Cli {
public:
    explicit Cli(const QStringList& args) { m_process.start(QStringLiteral(CLI_PATH), args); }
    // Waits for the end; a hang shows as status -1.
    CliRun finish(int timeoutMs = 30000)
    {
        CliRun run;
        if (!m_process.waitForFinished(timeoutMs)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        } else if (m_process.exitStatus() == QProcess::NormalExit) {
            run.status = m_process.exitCode();
        }
        run.out = m_process.readAllStandardOutput();
        run.err = m_process.readAllStandardError();
        return run;
    }

private:
    QProcess m_process;
};

inline CliRun runCli(const QStringList& args)
{
    return Cli(args).finish();
}

inline QJsonArray jsonOf(const CliRun& run)
{
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(run.out, &error);
    return error.error == QJsonParseError::NoError ? doc.array() : QJsonArray();
}
