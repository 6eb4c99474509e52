#include "csvrecords.h"

#include <QTextCodec>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {
// One pass over the text. The line counts physical lines, so a record with a line end
// inside quotes is named by the line where it starts.
class RecordReader {
public:
    RecordReader(const QString& text, QChar separator, int line, QList<CsvFileRecord>* records)
        : m_text(text)
        , m_separator(separator)
        , m_records(records)
        , m_line(line)
        , m_record { line, {}, {} }
    {
    }
    bool read(int from, TextProblem* problem);

private:
    QChar next(int i) const { return i + 1 < m_text.size() ? m_text.at(i + 1) : QChar(); }
    void quotedChar(int* i);
    void plainChar(int* i);
    void keepBroken(QChar c, const QString& why);
    void endRecord();

    const QString& m_text;
    const QChar m_separator;
    QList<CsvFileRecord>* m_records;
    int m_line = 1;
    CsvFileRecord m_record;
    QString m_field;
    bool m_quoted = false;
    bool m_wasQuoted = false;
    int m_quoteLine = 0;
};

bool RecordReader::read(int from, TextProblem* problem)
{
    for (int i = from; i < m_text.size(); ++i) {
        if (m_quoted)
            quotedChar(&i);
        else
            plainChar(&i);
    }
    if (m_quoted) {
        *problem = { m_quoteLine, QStringLiteral("a quoted field is never closed") };
        return false;
    }
    endRecord();
    return true;
}

// Inside quotes a doubled quote is one, and a single one closes the field.
void RecordReader::quotedChar(int* i)
{
    const QChar c = m_text.at(*i);
    if (c != QLatin1Char('"')) {
        if (c == QLatin1Char('\n'))
            ++m_line;
        m_field += c;
    } else if (next(*i) == QLatin1Char('"')) {
        m_field += c;
        ++*i;
    } else {
        m_quoted = false;
    }
}

void RecordReader::plainChar(int* i)
{
    const QChar c = m_text.at(*i);
    if (c == m_separator) {
        m_record.fields << m_field;
        m_field.clear();
        m_wasQuoted = false;
    } else if (c == QLatin1Char('\n') || (c == QLatin1Char('\r') && next(*i) == QLatin1Char('\n'))) {
        if (c == QLatin1Char('\r'))
            ++*i;
        endRecord();
        ++m_line;
    } else if (c == QLatin1Char('"') && !m_wasQuoted && m_field.trimmed().isEmpty()) {
        m_field.clear();
        m_quoted = m_wasQuoted = true;
        m_quoteLine = m_line;
    } else if (c == QLatin1Char('"')) {
        keepBroken(c, QStringLiteral("a quote inside a field that does not start with one"));
    } else if (m_wasQuoted && c != QLatin1Char(' ') && c != QLatin1Char('\t')) {
        keepBroken(c, QStringLiteral("text after the closing quote of a field"));
    } else if (!m_wasQuoted) {
        m_field += c;
    }
}

// As a spreadsheet reads it: the character stays, and the field is marked.
void RecordReader::keepBroken(QChar c, const QString& why)
{
    const int field = m_record.fields.size();
    if (m_record.problems.isEmpty() || m_record.problems.last().field != field)
        m_record.problems.append({ field, m_line, why });
    m_field += c;
}

void RecordReader::endRecord()
{
    // A line of blanks alone is a blank line too.
    if (!m_record.fields.isEmpty() || m_wasQuoted || !m_field.trimmed().isEmpty()) {
        m_record.fields << m_field;
        m_records->append(m_record);
    }
    m_record = { m_line + 1, {}, {} };
    m_field.clear();
    m_wasQuoted = false;
}

// The first line's end: the index of its line feed, or the text's end.
int lineEnd(const QString& text, int from)
{
    const int end = text.indexOf(QLatin1Char('\n'), from);
    return end < 0 ? text.size() : end;
}

// The separator the header row uses, and where the records begin.
QChar separatorOf(const QString& text, int* from, int* line)
{
    const int end = lineEnd(text, 0);
    const QString first = text.left(end).remove(QLatin1Char('\r'));
    // A spreadsheet that saves the line again may repeat the separator after it.
    if (first.size() >= 5 && first.startsWith(QLatin1String("sep="), Qt::CaseInsensitive)
        && first.at(4) != QLatin1Char('"') && first.mid(5).count(first.at(4)) == first.size() - 5) {
        *from = end + 1;
        *line = 2;
        return first.at(4);
    }
    // The first line that holds more than blanks is the header row.
    int start = 0;
    while (start < text.size() && text.mid(start, lineEnd(text, start) - start).trimmed().isEmpty())
        start = lineEnd(text, start) + 1;
    const QString kCandidates = QStringLiteral(",;\t");
    int counts[3] = {};
    bool quoted = false;
    for (int i = start; i < text.size() && (quoted || text.at(i) != QLatin1Char('\n')); ++i) {
        if (text.at(i) == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && kCandidates.contains(text.at(i)))
            ++counts[kCandidates.indexOf(text.at(i))];
    }
    int best = 0;
    for (int k = 1; k < 3; ++k)
        best = counts[k] > counts[best] ? k : best;
    return kCandidates.at(best);
}

// bytes in codec, exactly: what the text encodes back to must be the bytes, or the codec
// replaced or dropped something it could not read. False with the line of the first byte
// that differs.
bool decodeExactly(QTextCodec* codec, const QByteArray& bytes, QString* text, int* badLine)
{
    // No header handling: a byte-order mark is taken off before, and one inside is text.
    QTextCodec::ConverterState in(QTextCodec::IgnoreHeader), out(QTextCodec::IgnoreHeader);
    *text = codec->toUnicode(bytes.constData(), bytes.size(), &in);
    const QByteArray back = codec->fromUnicode(text->constData(), text->size(), &out);
    if (back == bytes && in.remainingChars == 0 && in.invalidChars == 0)
        return true;
    int same = 0;
    while (same < back.size() && same < bytes.size() && back.at(same) == bytes.at(same))
        ++same;
    QTextCodec::ConverterState prefix(QTextCodec::IgnoreHeader);
    *badLine = codec->toUnicode(bytes.constData(), same, &prefix).count(QLatin1Char('\n')) + 1;
    return false;
}

bool refuse(TextProblem* problem, int line, const QString& text)
{
    *problem = { line, text };
    return false;
}
}

QByteArray SystemCodePage()
{
#ifdef _WIN32
    const UINT page = GetACP();
    if (page == CP_UTF8)
        return QByteArray();
    // Qt names most code pages either way; Shift_JIS goes by no number.
    const QByteArray number = QByteArray::number(uint(page));
    for (const QByteArray& name :
        { "CP" + number, "windows-" + number, QByteArray(page == 932 ? "Shift_JIS" : "") }) {
        if (QTextCodec* codec = name.isEmpty() ? nullptr : QTextCodec::codecForName(name))
            return codec->name();
    }
    return QTextCodec::codecForLocale()->name();
#else
    return QByteArray();
#endif
}

bool KnownEncoding(const QByteArray& name)
{
    return QTextCodec::codecForName(name) != nullptr;
}

bool DecodeText(
    const QByteArray& bytes, const TextEncoding& encoding, QString* text, QString* used, TextProblem* problem)
{
    static const struct {
        const char* mark;
        const char* codec;
    } kMarks[] = { { "\xEF\xBB\xBF", "UTF-8" }, { "\xFF\xFE", "UTF-16LE" }, { "\xFE\xFF", "UTF-16BE" } };
    int line = 0;
    bool decoded = false;
    for (const auto& mark : kMarks) {
        if (!bytes.startsWith(mark.mark))
            continue;
        *used = QString::fromLatin1(mark.codec);
        if (!decodeExactly(
                QTextCodec::codecForName(mark.codec), bytes.mid(int(qstrlen(mark.mark))), text, &line))
            return refuse(problem, line,
                QStringLiteral("not %1 text, though it begins with the byte-order mark of %1").arg(*used));
        decoded = true;
        break;
    }
    if (!decoded && !encoding.named.isEmpty()) {
        QTextCodec* codec = QTextCodec::codecForName(encoding.named);
        if (!codec)
            return refuse(
                problem, 0, QStringLiteral("unknown encoding %1").arg(QString::fromLatin1(encoding.named)));
        *used = QString::fromLatin1(codec->name());
        if (!decodeExactly(codec, bytes, text, &line))
            return refuse(problem, line,
                QStringLiteral("not %1 text, as --encoding says it is")
                    .arg(QString::fromLatin1(encoding.named)));
        decoded = true;
    }
    if (!decoded && decodeExactly(QTextCodec::codecForName("UTF-8"), bytes, text, &line)) {
        *used = QStringLiteral("UTF-8");
        decoded = true;
    }
    if (!decoded) {
        const int utf8Line = line;
        QTextCodec* fallback
            = encoding.fallback.isEmpty() ? nullptr : QTextCodec::codecForName(encoding.fallback);
        if (!fallback || !decodeExactly(fallback, bytes, text, &line)) {
            const QString page = fallback
                ? QStringLiteral("neither UTF-8 nor text in the system's code page %1")
                      .arg(QString::fromLatin1(encoding.fallback))
                : QStringLiteral("not UTF-8 text");
            return refuse(problem, utf8Line,
                page
                    + QStringLiteral(": save it as \"CSV UTF-8\", or give its encoding with --encoding "
                                     "(GB18030, windows-1252, for example)"));
        }
        *used = QString::fromLatin1(fallback->name());
    }
    const int nul = text->indexOf(QChar(0));
    if (nul >= 0)
        return refuse(problem, text->leftRef(nul).count(QLatin1Char('\n')) + 1,
            QStringLiteral("a NUL byte: this is not a text file"));
    return true;
}

bool ReadCsvRecords(const QString& text, QList<CsvFileRecord>* records, TextProblem* problem)
{
    records->clear();
    int from = 0, line = 1;
    const QChar separator = separatorOf(text, &from, &line);
    return RecordReader(text, separator, line, records).read(from, problem);
}

bool NeedsFormulaGuard(const QString& text)
{
    int i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char('\''))
        ++i;
    return i < text.size() && QStringLiteral("=+-@\t\r").contains(text.at(i));
}

QString WithoutFormulaGuard(const QString& cell)
{
    return cell.startsWith(QLatin1Char('\'')) && NeedsFormulaGuard(cell.mid(1)) ? cell.mid(1) : cell;
}
