// A file that several processes append to at once, each write landing whole at the end.
#pragma once

#include <QFile>

class QByteArray;
class QString;

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens path for appending, creating it. On Linux that is O_APPEND. Qt's Append on
    // Windows seeks to the end once at open, so two programs sharing a file would
    // overwrite each other's lines: there the handle gets append access alone, with which
    // the system puts every write at the end of the file as it is then. Binary on both.
    // False with the reason.
    bool open(const QString& path, QString* why);
    bool isOpen() const { return m_file.isOpen(); }
    // Appends bytes in one write of the system. False with the reason.
    bool append(const QByteArray& bytes, QString* why);
    // The file descriptor, for a wait until it is on disk.
    int handle() const { return m_file.handle(); }

private:
    QFile m_file;
#ifdef _WIN32
    void* m_turns = nullptr; // a mutex named after the file
#endif
};
