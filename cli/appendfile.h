// A file that several processes append to at once, each write landing whole at the end.
#pragma once

#include <QtGlobal>

class QByteArray;
class QString;

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens path for appending, creating it readable and writable by its owner alone from
    // the start, and never through a link: on Linux O_APPEND|O_NOFOLLOW, and a file that
    // another user owns or that group or others may write to is refused (checked on what
    // was opened, not on the name). On Windows the handle has append access alone, with
    // which the system puts every write at the end as the file is then, and a reparse
    // point (a link or junction) is refused. False with the reason.
    bool open(const QString& path, QString* why);
    bool isOpen() const { return m_fd != -1; }
    // Appends bytes in one unbuffered write of the system. A short write (a full disk) is
    // taken back, so no part of a line stays, and fails: false with the reason.
    bool append(const QByteArray& bytes, QString* why);
    // The file descriptor, for a wait until it is on disk.
    int handle() const { return m_fd; }

private:
    bool takeBack(qint64 before, qint64 written);

    int m_fd = -1;
#ifdef _WIN32
    void* m_turns = nullptr; // a mutex named after the file
#endif
};

// Whether two names are one file, either perhaps not there yet: the same path, or (both
// there) the same file by its identity (device and inode; on Windows volume and file
// index), which catches hard links as well as symbolic ones.
bool SameFile(const QString& a, const QString& b);
