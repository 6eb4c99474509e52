#include "workbookarchive.h"

#include "output.h"
#include "workbooklimits.h"

#include <cstring>

namespace workbook {
namespace {
    voidpf ZCALLBACK memoryOpen(voidpf opaque, const void*, int)
    {
        return opaque;
    }

    uLong ZCALLBACK memoryRead(voidpf, voidpf stream, void* buffer, uLong size)
    {
        auto* file = static_cast<MemoryFile*>(stream);
        const ZPOS64_T total = ZPOS64_T(file->bytes->size());
        const uLong n = file->at >= total ? 0 : uLong(qMin<ZPOS64_T>(size, total - file->at));
        memcpy(buffer, file->bytes->constData() + file->at, n);
        file->at += n;
        return n;
    }

    uLong ZCALLBACK memoryWrite(voidpf, voidpf, const void*, uLong)
    {
        return 0;
    }

    ZPOS64_T ZCALLBACK memoryTell(voidpf, voidpf stream)
    {
        return static_cast<MemoryFile*>(stream)->at;
    }

    long ZCALLBACK memorySeek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
    {
        auto* file = static_cast<MemoryFile*>(stream);
        const ZPOS64_T total = ZPOS64_T(file->bytes->size());
        ZPOS64_T base = 0;
        if (origin == ZLIB_FILEFUNC_SEEK_CUR)
            base = file->at;
        else if (origin == ZLIB_FILEFUNC_SEEK_END)
            base = total;
        if (offset > total || base + offset > total)
            return -1;
        file->at = base + offset;
        return 0;
    }

    int ZCALLBACK memoryClose(voidpf, voidpf)
    {
        return 0;
    }

    int ZCALLBACK memoryError(voidpf, voidpf)
    {
        return 0;
    }
}

Archive::Archive(const QByteArray& bytes)
{
    m_file.bytes = &bytes;
    zlib_filefunc64_def io {};
    io.zopen64_file = memoryOpen;
    io.zread_file = memoryRead;
    io.zwrite_file = memoryWrite;
    io.ztell64_file = memoryTell;
    io.zseek64_file = memorySeek;
    io.zclose_file = memoryClose;
    io.zerror_file = memoryError;
    io.opaque = &m_file;
    m_zip = unzOpen2_64("workbook", &io);
}

Archive::~Archive()
{
    if (m_zip)
        unzClose(m_zip);
}

bool Archive::has(const QString& name)
{
    return m_zip && unzLocateFile(m_zip, name.toUtf8().constData(), 2) == UNZ_OK;
}

bool Archive::open(const QString& name, QString* why)
{
    unz_file_info64 info {};
    if (!has(name) || unzGetCurrentFileInfo64(m_zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        *why = QStringLiteral("has no %1").arg(TerminalSafe(name.left(80)));
        return false;
    }
    if (info.flag & 1) {
        *why = QStringLiteral("is encrypted (a zip password): save it again without a password");
        return false;
    }
    if (unzOpenCurrentFile(m_zip) != UNZ_OK) {
        *why = QStringLiteral("cannot unpack %1 (damaged, or packed in a way zip readers do not know)")
                   .arg(TerminalSafe(name.left(80)));
        return false;
    }
    m_name = TerminalSafe(name.left(80));
    m_read = 0;
    return true;
}

bool Archive::read(QByteArray* piece, QString* why)
{
    char buffer[1 << 16];
    const int n = unzReadCurrentFile(m_zip, buffer, sizeof buffer);
    if (n < 0) {
        *why = QStringLiteral("%1 is damaged (it does not unpack)").arg(m_name);
        return false;
    }
    m_read += n;
    if (m_read > kMaxWorkbookEntryBytes) {
        *why = QStringLiteral("%1 unpacks to more than %2 MiB: not a plan")
                   .arg(m_name)
                   .arg(kMaxWorkbookEntryBytes >> 20);
        return false;
    }
    *piece = QByteArray(buffer, n);
    if (n == 0 && unzCloseCurrentFile(m_zip) == UNZ_CRCERROR) {
        *why = QStringLiteral("%1 is damaged (its checksum does not match)").arg(m_name);
        return false;
    }
    return true;
}

bool Archive::readAll(const QString& name, QByteArray* out, QString* why)
{
    out->clear();
    if (!open(name, why))
        return false;
    QByteArray piece;
    do {
        if (!read(&piece, why))
            return false;
        out->append(piece);
    } while (!piece.isEmpty());
    return true;
}

int depthStep(QXmlStreamReader::TokenType token)
{
    return token == QXmlStreamReader::StartElement ? 1 : token == QXmlStreamReader::EndElement ? -1 : 0;
}

bool XmlEntry::open(const QString& name, QString* why)
{
    m_name = TerminalSafe(name.left(80));
    m_broken = !m_archive->open(name, why);
    return !m_broken;
}

QXmlStreamReader::TokenType XmlEntry::next(QString* why)
{
    for (;;) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::DTD) {
            *why = QStringLiteral("%1 holds a document type declaration, which workbooks do not").arg(m_name);
            m_broken = true;
            return QXmlStreamReader::Invalid;
        }
        if (token == QXmlStreamReader::EndDocument)
            return QXmlStreamReader::Invalid;
        if (token != QXmlStreamReader::Invalid) {
            m_pending = 0;
            return token;
        }
        if (m_pending > kMaxWorkbookXmlPiece) {
            *why = QStringLiteral("%1 holds a piece of XML of more than %2 MiB (a text or a tag): not a plan")
                       .arg(m_name)
                       .arg(kMaxWorkbookXmlPiece >> 20);
            m_broken = true;
            return QXmlStreamReader::Invalid;
        }
        if (xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && !m_ended) {
            QByteArray piece;
            if (!m_archive->read(&piece, why)) {
                m_broken = true;
                return QXmlStreamReader::Invalid;
            }
            m_ended = piece.isEmpty();
            m_pending += piece.size();
            xml.addData(piece);
            continue;
        }
        *why = QStringLiteral("%1 is not well-formed XML (line %2: %3)")
                   .arg(m_name)
                   .arg(xml.lineNumber())
                   .arg(TerminalSafe(xml.errorString().left(80)));
        m_broken = true;
        return QXmlStreamReader::Invalid;
    }
}

Step XmlEntry::child(QString* why)
{
    for (;;) {
        const QXmlStreamReader::TokenType token = next(why);
        if (token == QXmlStreamReader::Invalid) {
            ended(why);
            return Step::Failed;
        }
        if (token == QXmlStreamReader::EndElement)
            return Step::End;
        if (token == QXmlStreamReader::StartElement)
            return Step::Child;
    }
}

bool XmlEntry::skip(QString* why)
{
    for (int depth = 1; depth > 0;) {
        const QXmlStreamReader::TokenType token = next(why);
        if (token == QXmlStreamReader::Invalid)
            return ended(why);
        depth += depthStep(token);
    }
    return true;
}

bool XmlEntry::text(QString* out, int limit, QString* why)
{
    for (int depth = 1; depth > 0;) {
        const QXmlStreamReader::TokenType token = next(why);
        if (token == QXmlStreamReader::Invalid)
            return ended(why);
        if (token == QXmlStreamReader::Characters) {
            if (xml.text().size() > limit - out->size()) {
                *why = QStringLiteral("holds more than %1 characters, the most a spreadsheet keeps in a cell")
                           .arg(limit);
                return false;
            }
            out->append(xml.text());
        }
        depth += depthStep(token);
    }
    return true;
}

bool XmlEntry::ended(QString* why)
{
    if (why->isEmpty())
        *why = QStringLiteral("%1 ends early").arg(m_name);
    m_broken = true;
    return false;
}

bool XmlEntry::isStart(const char* name) const
{
    return xml.tokenType() == QXmlStreamReader::StartElement && xml.name() == QLatin1String(name);
}

QString XmlEntry::attribute(const char* name) const
{
    return xml.attributes().value(QLatin1String(name)).toString();
}

QString XmlEntry::prefixed(const char* name) const
{
    for (const QXmlStreamAttribute& a : xml.attributes()) {
        if (a.name() == QLatin1String(name) && !a.prefix().isEmpty())
            return a.value().toString();
    }
    return QString();
}

}
