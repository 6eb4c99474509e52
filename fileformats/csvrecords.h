// CSV files as people and spreadsheets write them: UTF-8, UTF-16 or a legacy code page;
// comma, semicolon or tab between fields; RFC 4180 quoting with LF as well as CRLF line
// ends. Plain functions, so tests and fuzzing call them directly.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What is wrong with a text, and where.
struct TextProblem {
    int line = 0; // 0: not tied to a line of a file
    QString text;
};

// A field whose quoting is broken: kept as written, and a problem only if it is used.
struct FieldProblem {
    int field = 0;
    int line = 0;
    QString text;
};

// One record and the line of the file where it starts.
struct CsvFileRecord {
    int line = 0;
    QStringList fields;
    QList<FieldProblem> problems;
};

// The encodings a file may be in besides UTF-8 and UTF-16 with a byte-order mark.
struct TextEncoding {
    QByteArray named; // what the user said the file is in; a byte-order mark still wins
    QByteArray fallback; // for a file that is not UTF-8 and names none
};

// The codec name of the system's ANSI code page on Windows, for TextEncoding::fallback;
// empty elsewhere and where that code page is UTF-8.
QByteArray SystemCodePage();

// Whether Qt knows an encoding by this name.
bool KnownEncoding(const QByteArray& name);

// The text of bytes, decoded exactly: a byte-order mark (UTF-8, UTF-16LE or BE) decides and
// is dropped; else the named encoding; else UTF-8 if the bytes are; else the fallback. A
// byte the encoding cannot read, or a NUL, is a problem on its line. used names what was
// read.
bool DecodeText(const QByteArray& bytes, const TextEncoding& encoding, QString* text, QString* used,
    TextProblem* problem);

// The records of text. The separator is the character after "sep=" when that is the whole
// first line (skipped then, as spreadsheets do), else the one of comma, semicolon and tab
// that the first line holds most of outside quotes (a comma when it holds none). A blank
// line, or one of blanks alone, is no record. Blanks around an unquoted field are kept,
// blanks after a closing quote are dropped. A quote inside a field that does not start with
// one and text after a closing quote are kept as written, with a FieldProblem; an unclosed
// quote is a problem of the whole text.
bool ReadCsvRecords(const QString& text, QList<CsvFileRecord>* records, TextProblem* problem);

// Whether a cell needs an apostrophe before it, so that a spreadsheet shows it as text
// rather than running it as a formula: it begins with =, +, -, @, a tab or a carriage
// return, or with apostrophes and then one of those (so that the reader tells the
// apostrophe put before it from the text's own).
bool NeedsFormulaGuard(const QString& text);

// A cell as its writer meant it: that apostrophe taken off again.
QString WithoutFormulaGuard(const QString& cell);
