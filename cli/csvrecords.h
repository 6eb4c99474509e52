// CSV files that people write: UTF-8 text, RFC 4180 records with LF as well as CRLF line
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

// One record and the line of the file where it starts.
struct CsvFileRecord {
    int line = 0;
    QStringList fields;
};

// The text of bytes that are valid UTF-8 without NUL, a leading byte-order mark dropped.
// The problem names the first bad line.
bool DecodeUtf8Text(const QByteArray& bytes, QString* text, TextProblem* problem);

// The records of text. A blank line, or one of blanks alone, is no record. Blanks around
// an unquoted field are kept, blanks after a closing quote are dropped; a quote inside a
// field that does not start with one, text after a closing quote and an unclosed quote
// are problems.
bool ReadCsvRecords(const QString& text, QList<CsvFileRecord>* records, TextProblem* problem);
