#include "tablefile.h"

#include "besidefile.h"
#include "workbookwriter.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace {
// Why a path cannot be written beside: no file on disk that may be replaced.
QString notReplaceable(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("it is a folder");
    if (info.exists() && !info.isWritable())
        return ErrnoText(EACCES);
    return QStringLiteral("it is not a plain file");
}

QByteArray csvText(const QStringList& columns, const QList<QList<OutputCell>>& rows)
{
    // The mark makes Excel read the file as UTF-8 rather than in the system's code page.
    QString text = QChar(0xFEFF) + CsvLine(columns);
    for (const QList<OutputCell>& row : rows)
        text += CsvLine(row);
    return text.toUtf8();
}

bool writeCsv(FILE* file, const QByteArray& bytes, QString* why)
{
    const bool written = fwrite(bytes.constData(), 1, size_t(bytes.size()), file) == size_t(bytes.size())
        && fflush(file) == 0;
    const int error = errno;
    const bool closed = fclose(file) == 0;
    if (written && closed)
        return true;
    *why = ErrnoText(written ? errno : error);
    return false;
}
}

TableFileFormat TableFileFormatOf(const QString& path)
{
    return path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive) ? TableFileFormat::Csv
                                                                     : TableFileFormat::Xlsx;
}

bool WriteTableFile(const QString& path, TableFileFormat format, const QStringList& columns,
    const QList<QList<OutputCell>>& rows, QString* why)
{
    // Said in words of its own: the system's would be "No such file or directory".
    const QFileInfo info(path);
    if (!info.absoluteDir().exists()) {
        *why = QStringLiteral("the folder %1 does not exist")
                   .arg(QDir::toNativeSeparators(info.absolutePath()));
        return false;
    }
    QString final;
    if (!WrittenBeside(path, &final)) {
        *why = notReplaceable(path);
        return false;
    }
    QString beside;
    FILE* file = CreateBeside(final, &beside);
    if (!file) {
        *why = ErrnoText(errno);
        return false;
    }
    bool written = false;
    if (format == TableFileFormat::Csv) {
        written = writeCsv(file, csvText(columns, rows), why);
    } else {
        // The workbook is written by name over the file made beside, which keeps that name
        // taken meanwhile and the old file's permissions.
        fclose(file);
        written = WriteWorkbook(beside, columns, rows, why);
    }
    if (written && ReplaceWith(beside, final, why))
        return true;
    RemoveFile(beside);
    return false;
}
