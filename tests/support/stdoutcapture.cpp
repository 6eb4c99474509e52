#include "stdoutcapture.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

StdoutCapture::StdoutCapture()
{
    file.setAutoRemove(true);
    file.open();
    fflush(stdout);
#ifdef _WIN32
    // The C runtime's descriptor 1 must point at the file; Qt's handle is a Win32 one.
    const int fd = _wopen(reinterpret_cast<const wchar_t*>(file.fileName().utf16()), _O_WRONLY | _O_BINARY);
    _dup2(fd, 1);
    _close(fd);
#else
    dup2(file.handle(), STDOUT_FILENO);
#endif
}

QByteArray StdoutCapture::takeNew()
{
    fflush(stdout);
    QFile reader(file.fileName());
    reader.open(QIODevice::ReadOnly);
    const QByteArray all = reader.readAll();
    const QByteArray fresh = all.mid(consumed);
    consumed = all.size();
    return fresh;
}
