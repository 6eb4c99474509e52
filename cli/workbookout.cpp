#include "workbookout.h"

#include "console.h"
#include "workbookwriter.h"

#include <QFile>
#include <QTemporaryDir>

namespace {
bool g_failed = false;

bool fail(const QString& why)
{
    err(QStringLiteral("devicesearch-cli: cannot write the workbook: %1").arg(why));
    g_failed = true;
    return false;
}
}

bool OutWorkbook(const QStringList& columns, const QList<QList<OutputCell>>& rows)
{
    // A directory rather than a QTemporaryFile: Windows would not let the library open a
    // file that Qt holds open, and the library's own temporary files go there too.
    QTemporaryDir dir;
    if (!dir.isValid())
        return fail(dir.errorString());
    const QString path = dir.filePath(QStringLiteral("devices.xlsx"));
    QString why;
    if (!WriteWorkbook(path, columns, rows, &why))
        return fail(why);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(64 * 1024);
        if (chunk.isEmpty())
            return fail(file.errorString());
        out(chunk);
    }
    return true;
}

bool WorkbookOutFailed()
{
    return g_failed;
}

bool StandardOutputIsTerminal()
{
    unsigned mode = 0;
    return SystemConsoleCalls().getMode(1, &mode);
}
