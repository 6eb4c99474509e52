// What both workbook formats share once a cell is read: the cell, the rows gathered under
// the limits, and the numbers a file writes, read as bounded values.
#pragma once

#include "csvrecords.h"

#include <QList>
#include <QString>

namespace workbook {

// A cell as read, before it is placed in its row.
struct Cell {
    QString text;
    QString problem; // why a plan may not read it
    bool empty() const { return text.isEmpty() && problem.isEmpty(); }
};

inline constexpr char kFormulaProblem[] = "holds a formula; copy the column and paste it back as values";
inline constexpr char kDateProblem[] = "holds a date or time; format the column as text and type it again";

bool fail(TextProblem* problem, int line, const QString& text);

QString columnLetters(int column);
// A cell's name (B7) from its column (from 0) and row (from 1).
QString cellName(int column, int row);

// Decimal digits (a + and blanks around allowed), saturated at cap; -1 when the text is
// anything else. Nothing a file writes can overflow it.
int BoundedNumber(const QString& text, int cap);

// The digits of a whole number as a workbook stores it (12345, 1.2345E+4, -7.0), or why it
// is none. Spreadsheets keep 15 significant digits, so a longer number may have been rounded.
bool WholeNumber(const QString& value, QString* digits, QString* why);

// Appends to a cell's text within kMaxCellText; false, with why, past it.
bool AppendCellText(QString* text, const QStringRef& more, QString* why);
bool AppendCellText(QString* text, QChar c, int count, QString* why);
// Whether a text read whole (an attribute's) is within kMaxCellText; false, with why, if not.
bool FitsCell(const QString& text, QString* why);

// A cell that could not be read: the document's own problem as it is, the cell's named.
bool CellFailed(bool documentBroken, int row, int column, const QString& why, TextProblem* problem);

// Rows with content, gathered under the limits: rows, columns, cells and decoded text.
class Sheet {
public:
    explicit Sheet(QList<CsvFileRecord>* records);

    // Decoded text held outside the cells (shared strings); false past the budget.
    bool spend(qint64 characters, int row, TextProblem* problem);
    // copies of a cell from column (from 0) on, in the row being read; false past a limit.
    bool put(int row, int column, int copies, const Cell& cell, TextProblem* problem);
    // The row just read, repeated times from row on; false past a limit.
    bool endRow(int row, int repeated, TextProblem* problem);

private:
    static bool pastLastRow(int row, TextProblem* problem);

    QList<CsvFileRecord>* m_records;
    CsvFileRecord m_row;
    qint64 m_rowText = 0;
    qint64 m_cells = 0;
    qint64 m_text = 0;
};

}
