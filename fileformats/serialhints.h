// A serial number of a plan that no device answered with, read again as a spreadsheet may
// have changed it: leading zeros dropped, or the digits turned into a number.
#pragma once

#include <QString>
#include <QStringList>

// "0012345 answered: a spreadsheet dropped its leading zeros" when heard holds the
// serial number that planned was before a spreadsheet changed it; empty when none does.
// Only a hint for the "not found" line: nothing is ever sent on it.
QString SpreadsheetChangedSerial(const QString& planned, const QStringList& heard);

// What the companion adds to the hint: how to keep the serial numbers as they are.
QString SpreadsheetAdvice();
