#include "workbookreader.h"

#include "output.h"

#include <QDir>
#include <QHash>
#include <QXmlStreamReader>

#include <unzip.h>

#include <cstring>
#include <limits>

namespace {
const char kZipMagic[] = "PK\x03\x04";
const char kEmptyZipMagic[] = "PK\x05\x06";
const char kOleMagic[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

bool fail(TextProblem* problem, int line, const QString& text)
{
    *problem = { line, text };
    return false;
}

// minizip reads the archive from the bytes in memory, through its own I/O hooks.
struct MemoryFile {
    const QByteArray* bytes = nullptr;
    ZPOS64_T at = 0;
};

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

// An open archive and the entry being read from it.
class Archive {
public:
    explicit Archive(const QByteArray& bytes)
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
    ~Archive()
    {
        if (m_zip)
            unzClose(m_zip);
    }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    bool isOpen() const { return m_zip != nullptr; }

    // Part names are compared without case, as the workbook formats say.
    bool has(const QString& name)
    {
        return m_zip && unzLocateFile(m_zip, name.toUtf8().constData(), 2) == UNZ_OK;
    }

    bool open(const QString& name, QString* why)
    {
        unz_file_info64 info {};
        if (!has(name)
            || unzGetCurrentFileInfo64(m_zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
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

    // The next piece of the open entry: false on a problem; empty at its end.
    bool read(QByteArray* piece, QString* why)
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

    // A small entry, whole.
    bool readAll(const QString& name, QByteArray* out, QString* why)
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

private:
    MemoryFile m_file;
    unzFile m_zip = nullptr;
    QString m_name;
    qint64 m_read = 0;
};

int depthStep(QXmlStreamReader::TokenType token)
{
    return token == QXmlStreamReader::StartElement ? 1 : token == QXmlStreamReader::EndElement ? -1 : 0;
}

// An entry's XML, parsed as it unpacks, so that a large sheet is never held whole.
class XmlEntry {
public:
    explicit XmlEntry(Archive* archive)
        : m_archive(archive)
    {
    }

    bool open(const QString& name, QString* why)
    {
        m_name = TerminalSafe(name.left(80));
        return m_archive->open(name, why);
    }

    // The next token; Invalid at the end of the document, or on a problem (then why is set).
    QXmlStreamReader::TokenType next(QString* why)
    {
        for (;;) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token == QXmlStreamReader::DTD) {
                *why = QStringLiteral("%1 holds a document type declaration, which workbooks do not")
                           .arg(m_name);
                return QXmlStreamReader::Invalid;
            }
            if (token == QXmlStreamReader::EndDocument)
                return QXmlStreamReader::Invalid;
            if (token != QXmlStreamReader::Invalid)
                return token;
            if (xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && !m_ended) {
                QByteArray piece;
                if (!m_archive->read(&piece, why))
                    return QXmlStreamReader::Invalid;
                m_ended = piece.isEmpty();
                xml.addData(piece);
                continue;
            }
            *why = QStringLiteral("%1 is not well-formed XML (line %2: %3)")
                       .arg(m_name)
                       .arg(xml.lineNumber())
                       .arg(TerminalSafe(xml.errorString().left(80)));
            return QXmlStreamReader::Invalid;
        }
    }

    // Past the end of the element just started.
    bool skip(QString* why)
    {
        for (int depth = 1; depth > 0;) {
            const QXmlStreamReader::TokenType token = next(why);
            if (token == QXmlStreamReader::Invalid)
                return ended(why);
            depth += depthStep(token);
        }
        return true;
    }

    // The text of the element just started, its children's included, and past its end.
    bool text(QString* out, QString* why)
    {
        for (int depth = 1; depth > 0;) {
            const QXmlStreamReader::TokenType token = next(why);
            if (token == QXmlStreamReader::Invalid)
                return ended(why);
            if (token == QXmlStreamReader::Characters)
                out->append(xml.text());
            depth += depthStep(token);
        }
        return true;
    }

    // False, with why the document ended inside an element.
    bool ended(QString* why)
    {
        if (why->isEmpty())
            *why = QStringLiteral("%1 ends early").arg(m_name);
        return false;
    }

    bool isStart(const char* name) const
    {
        return xml.tokenType() == QXmlStreamReader::StartElement && xml.name() == QLatin1String(name);
    }

    QString attribute(const char* name) const
    {
        return xml.attributes().value(QLatin1String(name)).toString();
    }

    // An attribute with a namespace prefix (r:id, office:value-type), by its local name.
    QString prefixed(const char* name) const
    {
        for (const QXmlStreamAttribute& a : xml.attributes()) {
            if (a.name() == QLatin1String(name) && !a.prefix().isEmpty())
                return a.value().toString();
        }
        return QString();
    }

    QXmlStreamReader xml;

private:
    Archive* m_archive;
    QString m_name;
    bool m_ended = false;
};

QString columnLetters(int column)
{
    QString letters;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        letters.prepend(QChar('A' + (n - 1) % 26));
    return letters;
}

QString cellName(int column, int row)
{
    return columnLetters(column) + QString::number(row);
}

// A row number for a message, however far a repeat reached.
int shownRow(qint64 row)
{
    return int(qMin<qint64>(row, std::numeric_limits<int>::max()));
}

// The digits of a whole number as a workbook stores it (12345, 1.2345E+4, -7.0), or why it is
// none. Spreadsheets keep 15 significant digits, so a longer number may have been rounded.
bool wholeNumber(const QString& value, QString* digits, QString* why)
{
    const QString s = value.trimmed();
    int i = 0;
    const bool negative = s.startsWith(QLatin1Char('-'));
    if (negative || s.startsWith(QLatin1Char('+')))
        ++i;
    QString mantissa;
    qint64 fraction = 0;
    bool dot = false;
    for (; i < s.size() && ((s.at(i) >= '0' && s.at(i) <= '9') || (!dot && s.at(i) == QLatin1Char('.')));
         ++i) {
        if (s.at(i) == QLatin1Char('.'))
            dot = true;
        else {
            mantissa += s.at(i);
            fraction += dot;
        }
    }
    qint64 exponent = 0;
    if (i < s.size() && (s.at(i) == QLatin1Char('e') || s.at(i) == QLatin1Char('E'))) {
        const bool down = ++i < s.size() && s.at(i) == QLatin1Char('-');
        if (i < s.size() && (s.at(i) == QLatin1Char('-') || s.at(i) == QLatin1Char('+')))
            ++i;
        const int start = i;
        for (; i < s.size() && s.at(i) >= '0' && s.at(i) <= '9'; ++i)
            exponent = qMin<qint64>(exponent * 10 + (s.at(i).unicode() - '0'), 1000000);
        if (i == start)
            i = -1;
        exponent = down ? -exponent : exponent;
    }
    const QString shown = TerminalSafe(s.left(40));
    if (mantissa.isEmpty() || i != s.size()) {
        *why = QStringLiteral("holds '%1', which is not a number").arg(shown);
        return false;
    }
    while (mantissa.size() > 1 && mantissa.startsWith(QLatin1Char('0')))
        mantissa.remove(0, 1);
    qint64 shift = mantissa == QLatin1String("0") ? 0 : exponent - fraction;
    while (shift < 0 && mantissa.endsWith(QLatin1Char('0'))) {
        mantissa.chop(1);
        ++shift;
    }
    if (shift < 0) {
        *why = QStringLiteral("holds the number %1, which is not whole; store the column as text").arg(shown);
        return false;
    }
    if (mantissa.size() + shift > 15) {
        *why = QStringLiteral("holds the number %1 of more than 15 digits, which spreadsheets round; "
                              "store the column as text")
                   .arg(shown);
        return false;
    }
    *digits = (negative && mantissa != QLatin1String("0") ? QStringLiteral("-") : QString()) + mantissa
        + QString(int(shift), QLatin1Char('0'));
    return true;
}

// A cell as read, before it is placed in its row.
struct Cell {
    QString text;
    QString problem; // why a plan may not read it
    bool empty() const { return text.isEmpty() && problem.isEmpty(); }
};

const char kFormula[] = "holds a formula; copy the column and paste it back as values";
const char kDate[] = "holds a date or time; format the column as text and type it again";

// Rows with content, gathered under the limits.
class Sheet {
public:
    explicit Sheet(QList<CsvFileRecord>* records)
        : m_records(records)
    {
        records->clear();
    }

    // A cell of the row being read; false past the limits.
    bool put(qint64 row, qint64 column, const Cell& cell, TextProblem* problem)
    {
        if (cell.empty())
            return true;
        if (row > kMaxWorkbookRows)
            return pastLastRow(row, problem);
        if (column >= kMaxWorkbookColumns)
            return fail(problem, shownRow(row),
                QStringLiteral("a cell with content past column %1 (%2): not a plan")
                    .arg(columnLetters(kMaxWorkbookColumns - 1))
                    .arg(kMaxWorkbookColumns));
        while (m_row.fields.size() <= column)
            m_row.fields.append(QString());
        m_row.fields[int(column)] = cell.text;
        if (!cell.problem.isEmpty())
            m_row.problems.append({ int(column), 0, cell.problem });
        return true;
    }

    // The row just read, repeated times from row on; false past the limits.
    bool endRow(qint64 row, qint64 repeated, TextProblem* problem)
    {
        if (m_row.fields.isEmpty())
            return true;
        if (row + repeated - 1 > kMaxWorkbookRows)
            return pastLastRow(qMax<qint64>(row, kMaxWorkbookRows + 1), problem);
        m_cells += m_row.fields.size() * repeated;
        if (m_cells > kMaxWorkbookCells)
            return fail(problem, shownRow(row),
                QStringLiteral("more than %1 cells up to each row's last with content: not a plan")
                    .arg(kMaxWorkbookCells));
        for (qint64 k = 0; k < repeated; ++k) {
            CsvFileRecord record { int(row + k), m_row.fields, {} };
            for (const FieldProblem& p : qAsConst(m_row.problems))
                record.problems.append({ p.field, record.line,
                    QStringLiteral("cell %1 %2").arg(cellName(p.field, record.line), p.text) });
            m_records->append(record);
        }
        m_row = CsvFileRecord();
        return true;
    }

private:
    static bool pastLastRow(qint64 row, TextProblem* problem)
    {
        return fail(problem, shownRow(row),
            QStringLiteral("a row with content past row %1: a plan has at most %1 rows")
                .arg(kMaxWorkbookRows));
    }

    QList<CsvFileRecord>* m_records;
    CsvFileRecord m_row;
    qint64 m_cells = 0;
};

// --- .xlsx

// The column a cell reference (C7) gives, or -1.
int referenceColumn(const QString& reference)
{
    int column = 0, i = 0;
    for (; i < reference.size() && i < 4 && reference.at(i).toUpper() >= 'A'
         && reference.at(i).toUpper() <= 'Z';
         ++i)
        column = column * 26 + (reference.at(i).toUpper().unicode() - 'A' + 1);
    return i == 0 || i == 4 ? -1 : column - 1;
}

// A part a relationship names, as a name in the archive.
QString partName(const QString& folder, const QString& target)
{
    return QDir::cleanPath(target.startsWith(QLatin1Char('/')) ? target.mid(1) : folder + target);
}

enum class NumberLook { Plain, Date, Percent };

// The built-in number formats that show a date or time, those of East Asian locales included.
bool dateFormatId(int id)
{
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47)
        || (id >= 50 && id <= 58);
}

// A format code shows a date or time when it holds d, m, y, h or s outside quotes, brackets
// and the word General, or an elapsed [h], [m] or [s].
NumberLook formatLook(const QString& written)
{
    const QString code = QString(written).remove(QLatin1String("general"), Qt::CaseInsensitive);
    bool percent = false;
    for (int i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i).toLower();
        if (c == QLatin1Char('"')) {
            const int close = code.indexOf(QLatin1Char('"'), i + 1);
            i = close < 0 ? code.size() : close;
        } else if (c == QLatin1Char('\\') || c == QLatin1Char('_') || c == QLatin1Char('*'))
            ++i;
        else if (c == QLatin1Char('[')) {
            const int close = code.indexOf(QLatin1Char(']'), i + 1);
            const QString inside = code.mid(i + 1, close < 0 ? -1 : close - i - 1).toLower();
            if (!inside.isEmpty() && QStringLiteral("hms").contains(inside.at(0))
                && inside.count(inside.at(0)) == inside.size())
                return NumberLook::Date;
            i = close < 0 ? code.size() : close;
        } else if (QStringLiteral("dmyhs").contains(c))
            return NumberLook::Date;
        else if (c == QLatin1Char('%'))
            percent = true;
    }
    return percent ? NumberLook::Percent : NumberLook::Plain;
}

struct Xlsx {
    QStringList shared;
    QList<NumberLook> styles; // by cellXfs index
};

// A string as the workbook format escapes it: _xHHHH_ stands for the character HHHH (how
// writers keep control characters), so a text's own "_x" is written _x005F_x.
QString unescaped(const QString& text)
{
    if (!text.contains(QLatin1String("_x")))
        return text;
    const auto hex = [](QChar c) { return c.isDigit() || (c.toLower() >= 'a' && c.toLower() <= 'f'); };
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('_') && i + 6 < text.size() && text.at(i + 1) == QLatin1Char('x')
            && text.at(i + 6) == QLatin1Char('_') && hex(text.at(i + 2)) && hex(text.at(i + 3))
            && hex(text.at(i + 4)) && hex(text.at(i + 5))) {
            out += QChar(text.midRef(i + 2, 4).toUShort(nullptr, 16));
            i += 6;
        } else
            out += text.at(i);
    }
    return out;
}

// An inline or shared string: its text runs, without the phonetic guides.
bool stringItem(XmlEntry& entry, QString* text, QString* why)
{
    for (int depth = 1; depth > 0;) {
        const QXmlStreamReader::TokenType token = entry.next(why);
        if (token == QXmlStreamReader::Invalid)
            return entry.ended(why);
        if (entry.isStart("rPh") || entry.isStart("phoneticPr")) {
            if (!entry.skip(why))
                return false;
        } else if (entry.isStart("t")) {
            if (!entry.text(text, why))
                return false;
        } else
            depth += depthStep(token);
    }
    return true;
}

bool readSharedStrings(Archive* archive, const QString& name, Xlsx* book, QString* why)
{
    XmlEntry entry(archive);
    if (!entry.open(name, why))
        return false;
    while (entry.next(why) != QXmlStreamReader::Invalid) {
        if (entry.isStart("si")) {
            QString text;
            if (!stringItem(entry, &text, why))
                return false;
            book->shared.append(unescaped(text));
        }
    }
    return why->isEmpty();
}

bool readStyles(Archive* archive, const QString& name, Xlsx* book, QString* why)
{
    XmlEntry entry(archive);
    if (!entry.open(name, why))
        return false;
    QHash<int, NumberLook> custom;
    bool inCellXfs = false;
    for (QXmlStreamReader::TokenType token; (token = entry.next(why)) != QXmlStreamReader::Invalid;) {
        if (entry.isStart("numFmt"))
            custom.insert(entry.attribute("numFmtId").toInt(), formatLook(entry.attribute("formatCode")));
        else if (entry.isStart("cellXfs"))
            inCellXfs = true;
        else if (token == QXmlStreamReader::EndElement && entry.xml.name() == QLatin1String("cellXfs"))
            inCellXfs = false;
        else if (inCellXfs && entry.isStart("xf")) {
            const int id = entry.attribute("numFmtId").toInt();
            book->styles.append(custom.contains(id) ? custom.value(id)
                    : dateFormatId(id)              ? NumberLook::Date
                    : id == 9 || id == 10           ? NumberLook::Percent
                                                    : NumberLook::Plain);
        }
    }
    return why->isEmpty();
}

// A worksheet cell: its value and type, then what the plan reader may make of it.
bool xlsxCell(XmlEntry& entry, const Xlsx& book, Cell* cell, QString* why)
{
    const QString type = entry.attribute("t");
    const int style = entry.attribute("s").toInt();
    QString value;
    bool formula = false, inlineText = false;
    for (int depth = 1; depth > 0;) {
        const QXmlStreamReader::TokenType token = entry.next(why);
        if (token == QXmlStreamReader::Invalid)
            return entry.ended(why);
        if (entry.isStart("v")) {
            if (!entry.text(&value, why))
                return false;
        } else if (entry.isStart("f")) {
            formula = true;
            if (!entry.skip(why))
                return false;
        } else if (entry.isStart("is")) {
            inlineText = true;
            if (!stringItem(entry, &value, why))
                return false;
        } else
            depth += depthStep(token);
    }
    if (type == QLatin1String("s")) {
        bool ok = false;
        const int index = value.toInt(&ok);
        if (!ok || index < 0 || index >= book.shared.size()) {
            *why = QStringLiteral("a cell refers to shared string '%1', which the workbook does not have")
                       .arg(TerminalSafe(value.left(20)));
            return false;
        }
        cell->text = book.shared.at(index);
    } else if (type == QLatin1String("inlineStr") || type == QLatin1String("str") || inlineText)
        cell->text = unescaped(value);
    else if (type == QLatin1String("b")) {
        cell->text = value.trimmed() == QLatin1String("1") ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        cell->problem = QStringLiteral("holds a truth value, not text");
    } else if (type == QLatin1String("e")) {
        cell->text = value.isEmpty() ? QStringLiteral("#") : value;
        cell->problem = QStringLiteral("holds the error %1").arg(TerminalSafe(value.left(20)));
    } else if (type == QLatin1String("d")) {
        cell->text = value.isEmpty() ? QStringLiteral("0") : value;
        cell->problem = QLatin1String(kDate);
    } else if (!value.trimmed().isEmpty()) {
        const NumberLook look = book.styles.value(style, NumberLook::Plain);
        cell->text = value.trimmed();
        if (look == NumberLook::Date)
            cell->problem = QLatin1String(kDate);
        else if (look == NumberLook::Percent)
            cell->problem = QStringLiteral("holds a percentage; format the column as text and type it again");
        else if (!wholeNumber(value, &cell->text, &cell->problem))
            cell->text = value.trimmed();
    }
    if (formula) {
        cell->problem = QLatin1String(kFormula);
        if (cell->text.isEmpty())
            cell->text = QStringLiteral("=");
    }
    return true;
}

bool readWorksheet(Archive* archive, const QString& name, const Xlsx& book, QList<CsvFileRecord>* records,
    TextProblem* problem)
{
    XmlEntry entry(archive);
    QString why;
    if (!entry.open(name, &why))
        return fail(problem, 0, why);
    Sheet sheet(records);
    qint64 row = 0;
    while (entry.next(&why) != QXmlStreamReader::Invalid) {
        if (!entry.isStart("row"))
            continue;
        bool ok = false;
        const qint64 numbered = entry.attribute("r").toLongLong(&ok);
        row = ok && numbered > 0 ? numbered : row + 1;
        qint64 column = -1;
        for (;;) {
            const QXmlStreamReader::TokenType token = entry.next(&why);
            if (token == QXmlStreamReader::Invalid)
                return fail(problem, 0, entry.ended(&why) ? QString() : why);
            if (token == QXmlStreamReader::EndElement)
                break;
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (!entry.isStart("c")) {
                if (!entry.skip(&why))
                    return fail(problem, 0, why);
                continue;
            }
            const int referenced = referenceColumn(entry.attribute("r"));
            column = referenced >= 0 ? referenced : column + 1;
            Cell cell;
            if (!xlsxCell(entry, book, &cell, &why))
                return fail(problem, shownRow(row), why);
            if (!sheet.put(row, column, cell, problem))
                return false;
        }
        if (!sheet.endRow(row, 1, problem))
            return false;
    }
    return why.isEmpty() || fail(problem, 0, why);
}

bool readXlsx(Archive* archive, QList<CsvFileRecord>* records, TextProblem* problem)
{
    QString why, relation;
    {
        XmlEntry entry(archive);
        if (!entry.open(QStringLiteral("xl/workbook.xml"), &why))
            return fail(problem, 0, why);
        while (relation.isEmpty() && entry.next(&why) != QXmlStreamReader::Invalid) {
            if (entry.isStart("sheet"))
                relation = entry.prefixed("id");
        }
        if (relation.isEmpty())
            return fail(problem, 0, why.isEmpty() ? QStringLiteral("the workbook names no sheet") : why);
    }
    QString sheetName, sharedName, stylesName;
    {
        XmlEntry entry(archive);
        if (!entry.open(QStringLiteral("xl/_rels/workbook.xml.rels"), &why))
            return fail(problem, 0, why);
        while (entry.next(&why) != QXmlStreamReader::Invalid) {
            if (!entry.isStart("Relationship") || entry.attribute("TargetMode") == QLatin1String("External"))
                continue;
            const QString part = partName(QStringLiteral("xl/"), entry.attribute("Target"));
            const QString type = entry.attribute("Type");
            if (entry.attribute("Id") == relation)
                sheetName = part;
            else if (type.endsWith(QLatin1String("/sharedStrings")))
                sharedName = part;
            else if (type.endsWith(QLatin1String("/styles")))
                stylesName = part;
        }
        if (!why.isEmpty())
            return fail(problem, 0, why);
        if (sheetName.isEmpty())
            return fail(problem, 0, QStringLiteral("the workbook's first sheet is not in the file"));
    }
    Xlsx book;
    if ((!sharedName.isEmpty() && !readSharedStrings(archive, sharedName, &book, &why))
        || (!stylesName.isEmpty() && !readStyles(archive, stylesName, &book, &why)))
        return fail(problem, 0, why);
    return readWorksheet(archive, sheetName, book, records, problem);
}

// --- .ods

// A count of repeats as written: 1 when absent or no count.
qint64 repeats(const QString& text)
{
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    return ok && n > 0 ? n : 1;
}

// A paragraph's text: its spans' texts, with the spaces, tabs and line breaks written as
// elements; notes and comments are not part of it.
bool paragraph(XmlEntry& entry, QString* text, QString* why)
{
    constexpr int kMaxCellText = 32767; // the most a spreadsheet keeps in a cell
    for (int depth = 1; depth > 0;) {
        const QXmlStreamReader::TokenType token = entry.next(why);
        if (token == QXmlStreamReader::Invalid)
            return entry.ended(why);
        const int room = qMax(0, kMaxCellText - text->size());
        if (token == QXmlStreamReader::Characters)
            text->append(entry.xml.text().left(room));
        else if (entry.isStart("s"))
            text->append(QString(int(qMin<qint64>(repeats(entry.prefixed("c")), room)), QLatin1Char(' ')));
        else if (entry.isStart("tab") && room > 0)
            text->append(QLatin1Char('\t'));
        else if (entry.isStart("line-break") && room > 0)
            text->append(QLatin1Char('\n'));
        if (entry.isStart("note") || entry.isStart("annotation") || entry.isStart("ruby-text")) {
            if (!entry.skip(why))
                return false;
        } else
            depth += depthStep(token);
    }
    return true;
}

bool odsCell(XmlEntry& entry, Cell* cell, QString* why)
{
    const QString type = entry.prefixed("value-type");
    const QString value = entry.prefixed("value");
    const QString stringValue = entry.prefixed("string-value");
    const bool formula = !entry.prefixed("formula").isEmpty();
    QStringList paragraphs;
    for (int depth = 1; depth > 0;) {
        const QXmlStreamReader::TokenType token = entry.next(why);
        if (token == QXmlStreamReader::Invalid)
            return entry.ended(why);
        if (entry.isStart("p") || entry.isStart("h")) {
            QString text;
            if (!paragraph(entry, &text, why))
                return false;
            paragraphs << text;
        } else if (token == QXmlStreamReader::StartElement) {
            if (!entry.skip(why)) // comments, shapes, nested tables
                return false;
        } else
            depth += depthStep(token);
    }
    const QString shown = paragraphs.join(QLatin1Char('\n'));
    if (type.isEmpty() || type == QLatin1String("string"))
        cell->text = stringValue.isEmpty() ? shown : stringValue;
    else if (type == QLatin1String("float")) {
        if (!wholeNumber(value, &cell->text, &cell->problem))
            cell->text = value.trimmed().isEmpty() ? QStringLiteral("0") : value.trimmed();
    } else {
        static const QHash<QString, QString> kKinds {
            { QStringLiteral("date"), QStringLiteral("a date") },
            { QStringLiteral("time"), QStringLiteral("a time") },
            { QStringLiteral("percentage"), QStringLiteral("a percentage") },
            { QStringLiteral("currency"), QStringLiteral("an amount of money") },
            { QStringLiteral("boolean"), QStringLiteral("a truth value") },
        };
        cell->text = shown.isEmpty() ? type : shown;
        cell->problem
            = QStringLiteral("holds %1, not text; format the column as text and type it again")
                  .arg(kKinds.value(type, QStringLiteral("a value of type ") + TerminalSafe(type.left(20))));
    }
    if (formula) {
        cell->problem = QLatin1String(kFormula);
        if (cell->text.isEmpty())
            cell->text = QStringLiteral("=");
    }
    return true;
}

bool readContent(Archive* archive, QList<CsvFileRecord>* records, TextProblem* problem)
{
    XmlEntry entry(archive);
    QString why;
    if (!entry.open(QStringLiteral("content.xml"), &why))
        return fail(problem, 0, why);
    QXmlStreamReader::TokenType token;
    while ((token = entry.next(&why)) != QXmlStreamReader::Invalid && !entry.isStart("table")) { }
    if (token == QXmlStreamReader::Invalid)
        return fail(problem, 0, why.isEmpty() ? QStringLiteral("the workbook has no sheet") : why);
    Sheet sheet(records);
    qint64 row = 1;
    for (int depth = 1; depth > 0;) {
        token = entry.next(&why);
        if (token == QXmlStreamReader::Invalid)
            return fail(problem, 0, entry.ended(&why) ? QString() : why);
        if (token == QXmlStreamReader::EndElement)
            --depth;
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (!entry.isStart("table-row")) {
            // Row groups and header rows hold rows; nothing else of a table does.
            if (entry.isStart("table-header-rows") || entry.isStart("table-row-group")
                || entry.isStart("table-rows"))
                ++depth;
            else if (!entry.skip(&why))
                return fail(problem, 0, why);
            continue;
        }
        const qint64 rowRepeats = repeats(entry.prefixed("number-rows-repeated"));
        qint64 column = 0;
        for (;;) {
            token = entry.next(&why);
            if (token == QXmlStreamReader::Invalid)
                return fail(problem, 0, entry.ended(&why) ? QString() : why);
            if (token == QXmlStreamReader::EndElement)
                break;
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (!entry.isStart("table-cell") && !entry.isStart("covered-table-cell")) {
                if (!entry.skip(&why))
                    return fail(problem, 0, why);
                continue;
            }
            const qint64 cellRepeats = repeats(entry.prefixed("number-columns-repeated"));
            Cell cell;
            if (!odsCell(entry, &cell, &why))
                return fail(problem, shownRow(row), why);
            // An empty cell is only a step to the right, however often it repeats; the last
            // copy of one with content goes first, so that a repeat past the limit is refused
            // before any copy is made.
            if (!cell.empty()) {
                if (!sheet.put(row, column + cellRepeats - 1, cell, problem))
                    return false;
                for (qint64 k = 0; k + 1 < cellRepeats; ++k)
                    sheet.put(row, column + k, cell, problem);
            }
            column = qMin<qint64>(column + cellRepeats, qint64(kMaxWorkbookColumns) * 1024);
        }
        if (!sheet.endRow(row, rowRepeats, problem))
            return false;
        row = qMin<qint64>(row + rowRepeats, std::numeric_limits<int>::max());
    }
    return true;
}

bool readOds(Archive* archive, QList<CsvFileRecord>* records, TextProblem* problem)
{
    const QString manifest = QStringLiteral("META-INF/manifest.xml");
    QString why;
    if (archive->has(manifest)) {
        XmlEntry entry(archive);
        if (!entry.open(manifest, &why))
            return fail(problem, 0, why);
        while (entry.next(&why) != QXmlStreamReader::Invalid) {
            if (entry.isStart("encryption-data"))
                return fail(
                    problem, 0, QStringLiteral("is an encrypted workbook: save it again without a password"));
        }
        if (!why.isEmpty())
            return fail(problem, 0, why);
    }
    return readContent(archive, records, problem);
}
}

bool IsWorkbookContainer(const QByteArray& bytes)
{
    return bytes.startsWith(kZipMagic) || bytes.startsWith(kEmptyZipMagic)
        || bytes.startsWith(QByteArray::fromRawData(kOleMagic, 8));
}

bool ReadWorkbookRecords(const QByteArray& bytes, QList<CsvFileRecord>* records, TextProblem* problem)
{
    records->clear();
    if (bytes.startsWith(QByteArray::fromRawData(kOleMagic, 8))) {
        // Office keeps a workbook with a password in this container, beside a stream that
        // describes its key.
        static const QString kEncryption = QStringLiteral("EncryptionInfo");
        const QByteArray encryption(
            reinterpret_cast<const char*>(kEncryption.utf16()), kEncryption.size() * 2);
        return fail(problem, 0,
            bytes.contains(encryption)
                ? QStringLiteral("is an encrypted workbook: save it again without a password")
                : QStringLiteral(
                    "is an OLE file (an old .xls workbook, or an encrypted one): save it as .xlsx, "
                    ".ods or CSV UTF-8"));
    }
    Archive archive(bytes);
    if (!archive.isOpen())
        return fail(problem, 0, QStringLiteral("is a damaged zip file, or a zip file but not a workbook"));
    QString why;
    if (archive.has(QStringLiteral("mimetype"))) {
        QByteArray type;
        if (!archive.readAll(QStringLiteral("mimetype"), &type, &why))
            return fail(problem, 0, why);
        type = type.trimmed();
        if (type == "application/vnd.oasis.opendocument.spreadsheet")
            return readOds(&archive, records, problem);
        if (type.startsWith("application/vnd.oasis.opendocument."))
            return fail(problem, 0,
                QStringLiteral("is an OpenDocument file but not a spreadsheet (%1)")
                    .arg(TerminalSafe(QString::fromLatin1(type.left(80)))));
    }
    if (archive.has(QStringLiteral("[Content_Types].xml")) && archive.has(QStringLiteral("xl/workbook.xml")))
        return readXlsx(&archive, records, problem);
    return fail(problem, 0, QStringLiteral("is a zip file but not a workbook (.xlsx or .ods)"));
}
