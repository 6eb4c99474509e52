// Entries whose texts a spreadsheet would change if it could: digit-only and long serial
// numbers, formulas, a number's signs, Chinese, a line break, a control character and the
// workbook format's own escape; for the tests of the workbook output.
#pragma once

#include "entry.h"
#include "output.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

// The texts of rows of cells, as a file read back gives them: the header's columns first.
inline QVector<QStringList> WrittenTexts(const QStringList& columns, const QList<QList<OutputCell>>& rows)
{
    QVector<QStringList> texts { columns };
    for (const QList<OutputCell>& row : rows) {
        QStringList line;
        for (const OutputCell& cell : row)
            line << cell.text;
        texts << line;
    }
    return texts;
}

inline Entry WorkbookEntry(const QString& name, const QString& sn, const QString& id)
{
    Entry e;
    e.device.kind = AnswerKind::Reply;
    e.device.configurable = true;
    e.device.name = name;
    e.device.ip = QStringLiteral("10.0.0.4");
    e.device.sn = sn;
    e.device.id = id;
    e.from = QStringLiteral("10.0.0.4:8838");
    e.interfaceName = QStringLiteral("eth0");
    return e;
}

inline QList<Entry> HostileWorkbookEntries()
{
    return {
        WorkbookEntry(QStringLiteral("=HYPERLINK(\"http://x\",\"y\")"), "0012345", "+41"),
        WorkbookEntry(QString::fromUtf8("\xe6\x91\x84\xe5\x83\x8f\xe6\x9c\xba\xe4\xb8\x80\xe5\x8f\xb7"),
            "1234567890123456", "-1"),
        WorkbookEntry(QStringLiteral("first line\nsecond line"), "00000000000000000001", "@SUM(1)"),
        WorkbookEntry(QStringLiteral("_x0041_ and \x1b[2J"), "1E5", "0x1F"),
        WorkbookEntry(QStringLiteral("  padded  "), "2024-01-02", "1/2"),
    };
}
