#include "workbooksheet.h"

#include "output.h"
#include "workbooklimits.h"

namespace workbook {
namespace {
    QString tooLong()
    {
        return QStringLiteral("holds more than %1 characters, the most a spreadsheet keeps in a cell")
            .arg(kMaxCellText);
    }

    // The mantissa's digits without leading zeros, and the shift of its point, of a number
    // as written; false when it is none.
    bool parseNumber(const QString& s, bool* negative, QString* mantissa, qint64* shift)
    {
        int i = 0;
        *negative = s.startsWith(QLatin1Char('-'));
        if (*negative || s.startsWith(QLatin1Char('+')))
            ++i;
        qint64 fraction = 0;
        bool dot = false;
        for (; i < s.size() && (s.at(i).isDigit() || (!dot && s.at(i) == QLatin1Char('.'))); ++i) {
            if (s.at(i) == QLatin1Char('.'))
                dot = true;
            else if (s.at(i) >= '0' && s.at(i) <= '9') {
                *mantissa += s.at(i);
                fraction += dot;
            } else
                return false;
        }
        qint64 exponent = 0;
        if (i < s.size() && (s.at(i) == QLatin1Char('e') || s.at(i) == QLatin1Char('E'))) {
            const bool down = ++i < s.size() && s.at(i) == QLatin1Char('-');
            if (i < s.size() && (s.at(i) == QLatin1Char('-') || s.at(i) == QLatin1Char('+')))
                ++i;
            const int start = i;
            for (; i < s.size() && s.at(i) >= '0' && s.at(i) <= '9'; ++i)
                exponent = qMin<qint64>(exponent * 10 + (s.at(i).unicode() - '0'), kMaxNumberExponent);
            if (i == start)
                return false;
            exponent = down ? -exponent : exponent;
        }
        if (mantissa->isEmpty() || i != s.size())
            return false;
        int zeros = 0;
        while (zeros + 1 < mantissa->size() && mantissa->at(zeros) == QLatin1Char('0'))
            ++zeros;
        mantissa->remove(0, zeros);
        *shift = *mantissa == QLatin1String("0") ? 0 : exponent - fraction;
        return true;
    }
}

bool fail(TextProblem* problem, int line, const QString& text)
{
    *problem = { line, text };
    return false;
}

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

int BoundedNumber(const QString& text, int cap)
{
    Q_ASSERT(cap >= 0 && cap <= kMaxWorkbookIndex);
    const QString s = text.trimmed();
    const int start = s.startsWith(QLatin1Char('+')) ? 1 : 0;
    if (s.size() == start)
        return -1;
    int n = 0;
    for (int i = start; i < s.size(); ++i) {
        if (s.at(i) < '0' || s.at(i) > '9')
            return -1;
        n = qMin(cap, n * 10 + (s.at(i).unicode() - '0'));
    }
    return n;
}

bool WholeNumber(const QString& value, QString* digits, QString* why)
{
    const QString s = value.trimmed();
    bool negative = false;
    QString mantissa;
    qint64 shift = 0;
    const QString shown = TerminalSafe(s.left(40));
    if (!parseNumber(s, &negative, &mantissa, &shift)) {
        *why = QStringLiteral("holds '%1', which is not a number").arg(shown);
        return false;
    }
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

bool AppendCellText(QString* text, const QStringRef& more, QString* why)
{
    if (more.size() > kMaxCellText - text->size()) {
        *why = tooLong();
        return false;
    }
    text->append(more);
    return true;
}

bool AppendCellText(QString* text, QChar c, int count, QString* why)
{
    if (count > kMaxCellText - text->size()) {
        *why = tooLong();
        return false;
    }
    text->append(QString(count, c));
    return true;
}

bool CellFailed(bool documentBroken, int row, int column, const QString& why, TextProblem* problem)
{
    return fail(
        problem, row, documentBroken ? why : QStringLiteral("cell %1 %2").arg(cellName(column, row), why));
}

bool FitsCell(const QString& text, QString* why)
{
    if (text.size() > kMaxCellText)
        *why = tooLong();
    return text.size() <= kMaxCellText;
}

Sheet::Sheet(QList<CsvFileRecord>* records)
    : m_records(records)
{
    records->clear();
}

bool Sheet::spend(qint64 characters, int row, TextProblem* problem)
{
    m_text += characters;
    if (m_text <= kMaxWorkbookText)
        return true;
    return fail(problem, row,
        QStringLiteral("the workbook holds more than %1 characters of text, every copy of a repeated cell "
                       "counted: not a plan")
            .arg(kMaxWorkbookText));
}

bool Sheet::put(int row, int column, int copies, const Cell& cell, TextProblem* problem)
{
    Q_ASSERT(
        column >= 0 && column <= kMaxWorkbookColumns && copies >= 1 && copies <= kMaxWorkbookColumns + 1);
    if (cell.empty())
        return true;
    if (row > kMaxWorkbookRows)
        return pastLastRow(row, problem);
    if (column + copies > kMaxWorkbookColumns)
        return fail(problem, row,
            QStringLiteral("a cell with content past column %1 (%2): not a plan")
                .arg(columnLetters(kMaxWorkbookColumns - 1))
                .arg(kMaxWorkbookColumns));
    const qint64 text = qint64(cell.text.size() + cell.problem.size()) * copies;
    if (!spend(text, row, problem))
        return false;
    m_rowText += text;
    while (m_row.fields.size() < column + copies)
        m_row.fields.append(QString());
    for (int k = column; k < column + copies; ++k) {
        m_row.fields[k] = cell.text;
        if (!cell.problem.isEmpty())
            m_row.problems.append({ k, 0, cell.problem });
    }
    return true;
}

bool Sheet::endRow(int row, int repeated, TextProblem* problem)
{
    Q_ASSERT(row >= 1 && row <= kMaxSheetRows + 1 && repeated >= 1 && repeated <= kMaxSheetRows + 1);
    const qint64 rowText = m_rowText;
    m_rowText = 0;
    if (m_row.fields.isEmpty())
        return true;
    if (row > kMaxWorkbookRows - repeated + 1)
        return pastLastRow(qMax(row, kMaxWorkbookRows + 1), problem);
    m_cells += qint64(m_row.fields.size()) * repeated;
    if (m_cells > kMaxWorkbookCells)
        return fail(problem, row,
            QStringLiteral("more than %1 cells up to each row's last with content: not a plan")
                .arg(kMaxWorkbookCells));
    // Each copy holds the row's text again, and each names its problems' cells ("cell B7 ").
    const qint64 names = qint64(m_row.problems.size()) * 16;
    if (!spend(rowText * (repeated - 1) + names * repeated, row, problem))
        return false;
    for (int k = 0; k < repeated; ++k) {
        CsvFileRecord record { row + k, m_row.fields, {} };
        for (const FieldProblem& p : qAsConst(m_row.problems))
            record.problems.append({ p.field, record.line,
                QStringLiteral("cell %1 %2").arg(cellName(p.field, record.line), p.text) });
        m_records->append(record);
    }
    m_row = CsvFileRecord();
    return true;
}

bool Sheet::pastLastRow(int row, TextProblem* problem)
{
    return fail(problem, row,
        QStringLiteral("a row with content past row %1: a plan has at most %1 rows").arg(kMaxWorkbookRows));
}

}
