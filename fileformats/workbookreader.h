// Plans saved as workbooks (.xlsx and .ods): the first sheet's cells as the records a CSV
// plan gives, so that the plan reader checks both alike. Plain functions on the file's bytes,
// so tests and fuzzing call them directly.
#pragma once

#include "csvrecords.h"
#include "workbooklimits.h"

#include <QByteArray>
#include <QList>

// Whether the bytes are a zip archive or an OLE compound file, by their first bytes: what
// the plan reader hands to ReadWorkbookRecords rather than reading as text.
bool IsWorkbookContainer(const QByteArray& bytes);

// The first sheet of an .xlsx or .ods file, by its content (whatever its name): one record
// per row with content, its line the sheet's row number, its fields the cells' texts up to
// the last with content. A whole number is its digits. A cell that is no text a plan may
// read (a formula, a date or time, a fraction, a truth value, an error) keeps its value as
// its field and has a FieldProblem, which the plan reader refuses only in a column it
// reads. Problems of the file (not a workbook, encrypted, past a limit of workbooklimits.h,
// a count or a row or column number that no sheet has) have line 0 unless a row is to blame;
// the first stops the read.
bool ReadWorkbookRecords(const QByteArray& bytes, QList<CsvFileRecord>* records, TextProblem* problem);
