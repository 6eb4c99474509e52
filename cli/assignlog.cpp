#include "assignlog.h"

#include "appendfile.h"
#include "netcompat.h"
#include "output.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

QString DefaultAssignLogPath(const std::function<QString(const char*)>& variable, QString* why)
{
#ifdef _WIN32
    const QString base = variable("LOCALAPPDATA");
    const QString missing = QStringLiteral("LOCALAPPDATA");
#else
    QString base = variable("XDG_STATE_HOME");
    // Relative values are to be ignored, as if unset.
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        const QString home = variable("HOME");
        base = home.isEmpty() ? home : home + QStringLiteral("/.local/state");
    }
    const QString missing = QStringLiteral("HOME (or XDG_STATE_HOME)");
#endif
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        *why = QStringLiteral("%1 is not set to a folder").arg(missing);
        return QString();
    }
    return QDir::cleanPath(base + QStringLiteral("/devicesearch/assign.jsonl"));
}

QByteArray AssignLogLine(const QDateTime& time, const AssignRow& row, bool sending)
{
    QJsonObject object = ToJson(row);
    object.remove(QStringLiteral("status"));
    if (sending)
        object.remove(QStringLiteral("seconds"));
    object.insert(
        QStringLiteral("event"), sending ? QStringLiteral("sending") : AssignStatusText(row.status));
    // The time first for people who read it; the other keys in order, "event" leading them,
    // and the address check last, as in the CSV.
    const QJsonValue check = object.take(QStringLiteral("check"));
    QByteArray line = CompactJsonLine(object);
    line.chop(2); // "}\n"
    const QByteArray checkText = QJsonDocument(QJsonArray { check }).toJson(QJsonDocument::Compact);
    return "{\"time\":\"" + time.toUTC().toString(Qt::ISODateWithMs).toLatin1() + "\"," + line.mid(1)
        + ",\"check\":" + checkText.mid(1, checkText.size() - 2) + "}\n";
}

AssignLog::AssignLog(std::function<bool(int fd)> sync)
    : m_sync(sync ? std::move(sync) : net::syncFile)
{
}

bool AssignLog::open(const QString& path, QString* why)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        *why = QStringLiteral("cannot create the folder %1").arg(info.absolutePath());
        return false;
    }
    if (info.isDir() && !info.isSymLink()) {
        *why = QStringLiteral("is a folder");
        return false;
    }
    // Other runs may append to the same log at the same time.
    return m_file.open(path, why);
}

bool AssignLog::write(const AssignRow& row, bool sending, QString* why)
{
    return append(AssignLogLine(QDateTime::currentDateTimeUtc(), row, sending), why);
}

bool AssignLog::writeFinal(const QList<AssignRow>& rows, QString* why)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QByteArray lines;
    for (const AssignRow& row : rows)
        lines += AssignLogLine(now, row, false);
    return lines.isEmpty() || append(lines, why);
}

bool AssignLog::append(const QByteArray& lines, QString* why)
{
    if (!m_file.append(lines, why))
        return false;
    if (!m_sync(m_file.handle())) {
        *why = QStringLiteral("cannot make sure it is on disk");
        return false;
    }
    return true;
}
