// A strict RFC 4180 reader, to read back what the command line writes.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The records of text; false when it is not well-formed RFC 4180 with CRLF line ends (a
// quote inside an unquoted field, an unclosed quote, a bare CR or LF outside quotes).
inline bool ReadCsv(const QString& text, QVector<QStringList>* records)
{
    records->clear();
    QStringList record;
    QString field;
    bool quoted = false, wasQuoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c != QLatin1Char('"')) {
                field += c;
            } else if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == QLatin1Char('"')) {
            if (!field.isEmpty() || wasQuoted)
                return false;
            quoted = wasQuoted = true;
        } else if (c == QLatin1Char(',')) {
            record << field;
            field.clear();
            wasQuoted = false;
        } else if (c == QLatin1Char('\r')) {
            if (i + 1 >= text.size() || text.at(i + 1) != QLatin1Char('\n'))
                return false;
            record << field;
            records->append(record);
            record.clear();
            field.clear();
            wasQuoted = false;
            ++i;
        } else if (c == QLatin1Char('\n') || wasQuoted) {
            return false;
        } else {
            field += c;
        }
    }
    return !quoted && field.isEmpty() && record.isEmpty();
}
