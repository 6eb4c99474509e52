// Every limit of the workbook reader, in one place: the README's list of the reader's limits
// says the same numbers. A count, index or row or column number read from a file is checked
// against these before any arithmetic, so that no sum of two of them can overflow.
#pragma once

#include <QtGlobal>

#include <limits>

// What one entry of the archive may unpack to, counted while unpacking (a header may lie).
constexpr qint64 kMaxWorkbookEntryBytes = 64 * 1024 * 1024;
// One piece of an entry's XML (a text between two tags, or a tag and its attributes), which
// the XML parser holds whole until it ends: far more than a cell's 32,767 characters take.
constexpr qint64 kMaxWorkbookXmlPiece = 4 * 1024 * 1024;
// The rows of a sheet: a row number past it is no row. Repeats of empty rows stop counting
// here too (a spreadsheet writes the rest of its sheet as one repeated row).
constexpr int kMaxSheetRows = 1048576;
// The last sheet row that may hold a cell with content.
constexpr int kMaxWorkbookRows = 200000;
// The columns of a sheet (XFD, the most any spreadsheet has): no cell with content past it.
constexpr int kMaxWorkbookColumns = 16384;
// Cells kept, counted up to each row's last cell with content: bounds the memory of a sheet
// whose few cells with content lie far to the right.
constexpr qint64 kMaxWorkbookCells = 4000000;
// The decoded text of one cell, all its paragraphs and repeated spaces together: the most a
// spreadsheet keeps in a cell.
constexpr int kMaxCellText = 32767;
// The decoded text of the whole workbook: its shared strings, every copy of a repeated cell
// and the problems found in cells. A plan of 200,000 rows of 160 characters fits many times
// over; held as UTF-16 it is 64 MiB, as much as one entry of XML may unpack to, so that a
// few bytes repeated or spaced out can never cost more memory than a sheet written out.
constexpr qint64 kMaxWorkbookText = 32 * 1024 * 1024;

// Indexes into the shared strings and styles are read up to here: more than one entry of
// XML can hold, so a larger one names nothing.
constexpr int kMaxWorkbookIndex = 100000000;
// A number's exponent is read up to here: far past the 15 digits a spreadsheet keeps.
constexpr int kMaxNumberExponent = 1000000;

// Repeat counts saturate one past the sheet's own size, so a position plus a count fits an int.
static_assert(qint64(kMaxSheetRows) * 4 < std::numeric_limits<int>::max(), "positions fit an int");
