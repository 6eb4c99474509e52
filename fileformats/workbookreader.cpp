#include "workbookreader.h"

#include "output.h"
#include "workbookarchive.h"
#include "workbookformats.h"
#include "workbooksheet.h"

namespace {
const char kZipMagic[] = "PK\x03\x04";
const char kEmptyZipMagic[] = "PK\x05\x06";
const char kOleMagic[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

// Office keeps a workbook with a password in this container, beside a stream that describes
// its key.
bool refuseOle(const QByteArray& bytes, TextProblem* problem)
{
    static const QString kEncryption = QStringLiteral("EncryptionInfo");
    const QByteArray encryption(reinterpret_cast<const char*>(kEncryption.utf16()), kEncryption.size() * 2);
    return workbook::fail(problem, 0,
        bytes.contains(encryption)
            ? QStringLiteral("is an encrypted workbook: save it again without a password")
            : QStringLiteral("is an OLE file (an old .xls workbook, or an encrypted one): save it as .xlsx, "
                             ".ods or CSV UTF-8"));
}
}

bool IsWorkbookContainer(const QByteArray& bytes)
{
    return bytes.startsWith(kZipMagic) || bytes.startsWith(kEmptyZipMagic)
        || bytes.startsWith(QByteArray::fromRawData(kOleMagic, 8));
}

bool ReadWorkbookRecords(const QByteArray& bytes, QList<CsvFileRecord>* records, TextProblem* problem)
{
    using workbook::fail;
    records->clear();
    if (bytes.startsWith(QByteArray::fromRawData(kOleMagic, 8)))
        return refuseOle(bytes, problem);
    workbook::Archive archive(bytes);
    if (!archive.isOpen())
        return fail(problem, 0, QStringLiteral("is a damaged zip file, or a zip file but not a workbook"));
    QString why;
    if (archive.has(QStringLiteral("mimetype"))) {
        QByteArray type;
        if (!archive.readAll(QStringLiteral("mimetype"), &type, &why))
            return fail(problem, 0, why);
        type = type.trimmed();
        if (type == "application/vnd.oasis.opendocument.spreadsheet")
            return workbook::ReadOds(&archive, records, problem);
        if (type.startsWith("application/vnd.oasis.opendocument."))
            return fail(problem, 0,
                QStringLiteral("is an OpenDocument file but not a spreadsheet (%1)")
                    .arg(TerminalSafe(QString::fromLatin1(type.left(80)))));
    }
    if (archive.has(QStringLiteral("[Content_Types].xml")) && archive.has(QStringLiteral("xl/workbook.xml")))
        return workbook::ReadXlsx(&archive, records, problem);
    return fail(problem, 0, QStringLiteral("is a zip file but not a workbook (.xlsx or .ods)"));
}
