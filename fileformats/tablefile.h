// A table saved as a file for a spreadsheet, by the window's exports: the companion's
// workbook and CSV writers, written so that a failure never leaves half a file.
#pragma once

#include "output.h"

#include <QList>
#include <QString>
#include <QStringList>

enum class TableFileFormat { Xlsx, Csv };

// The format a file name asks for by its suffix (case-insensitive .csv is Csv, anything else Xlsx).
TableFileFormat TableFileFormatOf(const QString& path);

// Writes columns and rows to path as a workbook (every text a string cell) or as CSV
// (byte-order mark, CRLF, formula-safe cells) through the companion's own writers; the file is
// written beside under a name of its own in the same folder and renamed over path only when
// complete, so a failure leaves an old file as it was. False with the reason (plain words).
bool WriteTableFile(const QString& path, TableFileFormat format, const QStringList& columns,
    const QList<QList<OutputCell>>& rows, QString* why);
