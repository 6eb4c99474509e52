// The record of an assignment, one JSON line per event appended to a file: "sending" just
// before a device's set-network command goes out, and its final status once it has one.
// Each line is on disk before the run goes on, so even a killed run leaves a line for
// every command that went out.
#pragma once

#include "appendfile.h"
#include "assignrow.h"

#include <QDateTime>
#include <QString>

#include <functional>

// Where the log goes unless --log names a file: $XDG_STATE_HOME/devicesearch/assign.jsonl,
// with ~/.local/state for an unset XDG_STATE_HOME; on Windows under %LOCALAPPDATA%.
// variable returns an environment variable's value, empty when unset. Empty, with what is
// missing in why, where none of them names an absolute folder: the log never goes to the
// root of a drive or to the current folder.
QString DefaultAssignLogPath(const std::function<QString(const char*)>& variable, QString* why);

// One line with its newline: "time" (UTC, milliseconds), "event", and the row's settings;
// "sending" before the command, else the row's final status and "seconds".
QByteArray AssignLogLine(const QDateTime& time, const AssignRow& row, bool sending);

class AssignLog {
public:
    // sync waits until what the file descriptor holds is on disk; none: the system's.
    explicit AssignLog(std::function<bool(int fd)> sync = nullptr);
    // Opens path for appending, creating it (readable by its owner alone) and its folder;
    // a link, another user's file or one that others may write to is refused (AppendFile).
    // Runs that share the file at the same time each add whole lines. False with the reason.
    bool open(const QString& path, QString* why);
    bool isOpen() const { return m_file.isOpen(); }
    // Appends the row's line and waits until it is on disk. False with the reason; a line
    // that did not fit is taken back, and the run sends nothing more.
    bool write(const AssignRow& row, bool sending, QString* why);
    // Appends each row's final line, then waits once until all are on disk: the end of a
    // run must fit in the seconds Windows leaves a program after its console closed, and a
    // wait per line for hundreds of devices does not. False with the reason.
    bool writeFinal(const QList<AssignRow>& rows, QString* why);

private:
    bool append(const QByteArray& lines, QString* why);
    std::function<bool(int fd)> m_sync;
    AppendFile m_file;
};
