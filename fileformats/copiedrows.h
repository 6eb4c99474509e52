// Rows of cells as a spreadsheet pastes them: tab-separated lines, and an HTML table whose
// cells are all text, so a serial number such as 000123 keeps its zeros and =1+1 is not
// run. The first row is the header.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// In both, every control character of a cell (tab, line break and the rest of C0, and DEL)
// becomes a space: a cell never splits a line or a row, and the HTML stays well-formed.

// One line per row, cells joined by tabs; every line ends with "\n" (the clipboard makes
// that CRLF where the system wants it).
QString CopiedRowsText(const QList<QStringList>& rows);

// A whole HTML document holding one table: the header row as <th>, the others as <td>,
// every cell escaped and marked as text.
QString CopiedRowsHtml(const QList<QStringList>& rows);
