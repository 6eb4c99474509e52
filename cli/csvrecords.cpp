#include "csvrecords.h"

#include <QTextCodec>

namespace {
// One pass over the text. The line counts physical lines, so a record with a line end
// inside quotes is named by the line where it starts.
class RecordReader {
public:
    RecordReader(const QString& text, QList<CsvFileRecord>* records)
        : m_text(text)
        , m_records(records)
    {
    }
    bool read(TextProblem* problem);

private:
    QChar next(int i) const { return i + 1 < m_text.size() ? m_text.at(i + 1) : QChar(); }
    void quotedChar(int* i);
    QString plainChar(int* i); // the problem, or empty
    void endRecord();

    const QString& m_text;
    QList<CsvFileRecord>* m_records;
    int m_line = 1;
    CsvFileRecord m_record { 1, {} };
    QString m_field;
    bool m_quoted = false;
    bool m_wasQuoted = false;
    int m_quoteLine = 0;
};

bool RecordReader::read(TextProblem* problem)
{
    for (int i = 0; i < m_text.size(); ++i) {
        if (m_quoted) {
            quotedChar(&i);
            continue;
        }
        const QString why = plainChar(&i);
        if (!why.isEmpty()) {
            *problem = { m_line, why };
            return false;
        }
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

QString RecordReader::plainChar(int* i)
{
    const QChar c = m_text.at(*i);
    if (c == QLatin1Char('"')) {
        if (m_wasQuoted || !m_field.trimmed().isEmpty())
            return QStringLiteral("a quote inside a field that does not start with one");
        m_field.clear();
        m_quoted = m_wasQuoted = true;
        m_quoteLine = m_line;
    } else if (c == QLatin1Char(',')) {
        m_record.fields << m_field;
        m_field.clear();
        m_wasQuoted = false;
    } else if (c == QLatin1Char('\n') || (c == QLatin1Char('\r') && next(*i) == QLatin1Char('\n'))) {
        if (c == QLatin1Char('\r'))
            ++*i;
        endRecord();
        ++m_line;
    } else if (m_wasQuoted && c != QLatin1Char(' ') && c != QLatin1Char('\t')) {
        return QStringLiteral("text after the closing quote of a field");
    } else if (!m_wasQuoted) {
        m_field += c;
    }
    return QString();
}

void RecordReader::endRecord()
{
    // A line of blanks alone is a blank line too.
    if (!m_record.fields.isEmpty() || m_wasQuoted || !m_field.trimmed().isEmpty()) {
        m_record.fields << m_field;
        m_records->append(m_record);
    }
    m_record = { m_line + 1, {} };
    m_field.clear();
    m_wasQuoted = false;
}
}

bool DecodeUtf8Text(const QByteArray& bytes, QString* text, TextProblem* problem)
{
    // Line by line, so the problem names the first bad line.
    QTextCodec* utf8 = QTextCodec::codecForName("UTF-8");
    int line = 1;
    for (int from = 0; from < bytes.size(); ++line) {
        int to = bytes.indexOf('\n', from);
        if (to < 0)
            to = bytes.size();
        const QByteArray piece = bytes.mid(from, to - from);
        if (piece.contains('\0')) {
            *problem = { line, QStringLiteral("a NUL byte: this is not a text file") };
            return false;
        }
        QTextCodec::ConverterState state;
        utf8->toUnicode(piece.constData(), piece.size(), &state);
        if (state.invalidChars > 0 || state.remainingChars > 0) {
            *problem = { line, QStringLiteral("not UTF-8 text") };
            return false;
        }
        from = to + 1;
    }
    *text = QString::fromUtf8(bytes);
    if (text->startsWith(QChar(0xFEFF)))
        text->remove(0, 1);
    return true;
}

bool ReadCsvRecords(const QString& text, QList<CsvFileRecord>* records, TextProblem* problem)
{
    records->clear();
    return RecordReader(text, records).read(problem);
}
