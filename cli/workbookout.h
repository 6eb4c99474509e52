// A workbook as the data of a command: written whole to a temporary file (the library
// writes to a file name only), then copied to standard output or the --output file.
#pragma once

#include "output.h"

#include <QList>
#include <QStringList>

// False, with the reason on standard error, when the workbook could not be made or copied.
bool OutWorkbook(const QStringList& columns, const QList<QList<OutputCell>>& rows);

// True once OutWorkbook failed: the command's success becomes a usage status (2), as for
// an --output file that could not be written.
bool WorkbookOutFailed();

// Whether standard output is a terminal (a console on Windows), where a workbook is refused.
bool StandardOutputIsTerminal();
