// The workbook output: one sheet with the CSV's columns and rows, every text a string cell
// (never evaluated, so no apostrophe before a formula-like text) and the seconds numbers.
#pragma once

#include "output.h"

#include <QList>
#include <QString>
#include <QStringList>

// The column widths, in characters: the longest line of a column's cells (a wide East Asian
// character counts two), with room for the filter button, capped.
QList<double> WorkbookColumnWidths(const QStringList& columns, const QList<QList<OutputCell>>& rows);

// Text as a string cell keeps it: an "_xHHHH_" in it would be read back as one character,
// so its underscore is written as _x005F_; the two non-characters XML refuses as _xFFFE_
// and _xFFFF_.
QString WorkbookText(const QString& text);

// Writes the workbook to path (created or replaced); false with the reason.
bool WriteWorkbook(
    const QString& path, const QStringList& columns, const QList<QList<OutputCell>>& rows, QString* why);

// The rows of entries or of an assignment.
template <typename Row> QList<QList<OutputCell>> WorkbookRows(const QList<Row>& rows)
{
    QList<QList<OutputCell>> cells;
    for (const Row& row : rows)
        cells.append(OutputCells(row));
    return cells;
}
