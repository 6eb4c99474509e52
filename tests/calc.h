// LibreOffice Calc, headless, as the tests run it: a profile of its own in the test's folder,
// so that neither a user's nor another run's is touched.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

// Runs Calc on path with these options, writing beside it; false with what it said.
inline bool RunCalc(const QString& profile, const QStringList& options, const QString& path, QByteArray* said)
{
    QProcess calc;
    calc.setProcessChannelMode(QProcess::MergedChannels);
    calc.start("soffice",
        QStringList { "-env:UserInstallation=" + QUrl::fromLocalFile(profile).toString(), "--headless" }
            + options + QStringList { "--outdir", QFileInfo(path).absolutePath(), path });
    if (!calc.waitForStarted(30000)) {
        *said = "soffice not found (tools/install-deps installs it)";
        return false;
    }
    // The first start makes the profile, which takes a while on a busy machine.
    const bool done
        = calc.waitForFinished(240000) && calc.exitStatus() == QProcess::NormalExit && calc.exitCode() == 0;
    *said = calc.readAll();
    return done;
}

// What Calc saved as CSV, its records ended with CRLF for the strict reader.
inline QString CalcCsv(const QString& path)
{
    QFile saved(path);
    if (!saved.open(QIODevice::ReadOnly))
        return QStringLiteral("Calc saved no %1").arg(path);
    // Calc ends its records with LF alone; the strict reader wants CRLF between them.
    QString text;
    bool quoted = false;
    for (const QChar c : QString::fromUtf8(saved.readAll())) {
        quoted ^= c == QLatin1Char('"');
        text += !quoted && c == QLatin1Char('\n') ? QStringLiteral("\r\n") : QString(c);
    }
    return text;
}

// Calc's CSV filter options: comma, double quote, UTF-8, from line 1.
inline QString CalcCsvOptions()
{
    return QStringLiteral("44,34,76,1");
}
