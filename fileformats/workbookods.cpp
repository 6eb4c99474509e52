// The first sheet of an .ods: its rows and cells with their repeats, and a cell's text from
// its paragraphs.
#include "output.h"
#include "workbookarchive.h"
#include "workbookformats.h"
#include "workbooklimits.h"
#include "workbooksheet.h"

#include <QHash>

namespace workbook {
namespace {
    // A count a table or text attribute gives: 1 when absent, saturated at cap, 0 when it is
    // no count (which the caller refuses).
    int count(const XmlEntry& entry, const char* name, int cap)
    {
        const QString written = entry.prefixed(name);
        return written.isNull() ? 1 : qMax(0, BoundedNumber(written, cap));
    }

    // Why the count an attribute gives is refused; prefix is the one files use.
    QString noCount(const XmlEntry& entry, const char* prefix, const char* name, const char* what)
    {
        return QStringLiteral("has %1:%2=\"%3\", which is no count of %4")
            .arg(QLatin1String(prefix), QLatin1String(name), TerminalSafe(entry.prefixed(name).left(24)),
                QLatin1String(what));
    }

    // One piece of a paragraph: its characters, repeated spaces, a tab or a line break.
    bool piece(XmlEntry& entry, QXmlStreamReader::TokenType token, QString* text, QString* why)
    {
        if (token == QXmlStreamReader::Characters)
            return AppendCellText(text, entry.xml.text(), why);
        if (entry.isStart("s")) {
            const int spaces = count(entry, "c", kMaxCellText + 1);
            if (spaces == 0) {
                *why = noCount(entry, "text", "c", "spaces");
                return false;
            }
            return AppendCellText(text, QLatin1Char(' '), spaces, why);
        }
        if (entry.isStart("tab"))
            return AppendCellText(text, QLatin1Char('\t'), 1, why);
        if (entry.isStart("line-break"))
            return AppendCellText(text, QLatin1Char('\n'), 1, why);
        return true;
    }

    // A paragraph's text, appended to the cell's: its spans' texts, with the spaces, tabs and
    // line breaks written as elements; notes and comments are not part of it.
    bool paragraph(XmlEntry& entry, QString* text, QString* why)
    {
        for (int depth = 1; depth > 0;) {
            const QXmlStreamReader::TokenType token = entry.next(why);
            if (token == QXmlStreamReader::Invalid)
                return entry.ended(why);
            if (!piece(entry, token, text, why))
                return false;
            if (entry.isStart("note") || entry.isStart("annotation") || entry.isStart("ruby-text")) {
                if (!entry.skip(why))
                    return false;
            } else
                depth += depthStep(token);
        }
        return true;
    }

    // What the plan reader may make of a cell of a type other than text.
    void typedCell(const QString& type, const QString& value, const QString& shown, Cell* cell)
    {
        if (type == QLatin1String("float")) {
            if (!WholeNumber(value, &cell->text, &cell->problem))
                cell->text = value.trimmed().isEmpty() ? QStringLiteral("0") : value.trimmed();
            return;
        }
        static const QHash<QString, QString> kKinds {
            { QStringLiteral("date"), QStringLiteral("a date") },
            { QStringLiteral("time"), QStringLiteral("a time") },
            { QStringLiteral("percentage"), QStringLiteral("a percentage") },
            { QStringLiteral("currency"), QStringLiteral("an amount of money") },
            { QStringLiteral("boolean"), QStringLiteral("a truth value") },
        };
        cell->text = shown.isEmpty() ? type : shown;
        cell->problem
            = QStringLiteral("holds %1, not text; format the column as text and type it again")
                  .arg(kKinds.value(type, QStringLiteral("a value of type ") + TerminalSafe(type.left(20))));
    }

    // A cell's paragraphs, one text of lines, within a cell's limit.
    bool paragraphs(XmlEntry& entry, QString* shown, QString* why)
    {
        bool first = true;
        for (Step step; (step = entry.child(why)) != Step::End;) {
            if (step == Step::Failed)
                return false;
            if (!entry.isStart("p") && !entry.isStart("h")) {
                if (!entry.skip(why)) // comments, shapes, nested tables
                    return false;
                continue;
            }
            if ((!first && !AppendCellText(shown, QLatin1Char('\n'), 1, why))
                || !paragraph(entry, shown, why))
                return false;
            first = false;
        }
        return true;
    }

    bool odsCell(XmlEntry& entry, Cell* cell, QString* why)
    {
        const QString type = entry.prefixed("value-type");
        const QString value = entry.prefixed("value");
        const QString stringValue = entry.prefixed("string-value");
        const bool formula = !entry.prefixed("formula").isEmpty();
        QString shown;
        if (!paragraphs(entry, &shown, why))
            return false;
        if (type.isEmpty() || type == QLatin1String("string"))
            cell->text = stringValue.isEmpty() ? shown : stringValue;
        else
            typedCell(type, value, shown, cell);
        if (formula) {
            cell->problem = QLatin1String(kFormulaProblem);
            if (cell->text.isEmpty())
                cell->text = QStringLiteral("=");
        }
        // An attribute's value is no paragraph: held to the same limit here.
        return FitsCell(cell->text, why);
    }

    // A cell and its repeats, from column on; column moves past them. An empty cell is only
    // a step to the right, however often it repeats; one with content past the last column
    // is refused before any copy is made.
    bool odsCells(XmlEntry& entry, int row, int* column, Sheet* sheet, TextProblem* problem)
    {
        const int copies = count(entry, "number-columns-repeated", kMaxWorkbookColumns + 1);
        if (copies == 0)
            return CellFailed(
                false, row, *column, noCount(entry, "table", "number-columns-repeated", "cells"), problem);
        Cell cell;
        QString why;
        if (!odsCell(entry, &cell, &why))
            return CellFailed(entry.broken(), row, *column, why, problem);
        if (!sheet->put(row, *column, copies, cell, problem))
            return false;
        *column = qMin(*column + copies, kMaxWorkbookColumns);
        return true;
    }

    // The row just started and its repeats, into the sheet; row moves past them. Repeats of
    // empty rows stop counting at the sheet's last row.
    bool odsRow(XmlEntry& entry, int* row, Sheet* sheet, TextProblem* problem)
    {
        const int repeated = count(entry, "number-rows-repeated", kMaxSheetRows);
        if (repeated == 0)
            return fail(problem, *row,
                QStringLiteral("a row ") + noCount(entry, "table", "number-rows-repeated", "rows"));
        QString why;
        int column = 0;
        Step step;
        while ((step = entry.child(&why)) == Step::Child) {
            if (!entry.isStart("table-cell") && !entry.isStart("covered-table-cell")) {
                if (!entry.skip(&why))
                    return fail(problem, 0, why);
            } else if (!odsCells(entry, *row, &column, sheet, problem))
                return false;
        }
        if (step == Step::Failed)
            return fail(problem, 0, why);
        if (!sheet->endRow(*row, repeated, problem))
            return false;
        *row = qMin(*row + repeated, kMaxSheetRows + 1);
        return true;
    }

    // The rows of the table just started: row groups and header rows hold rows; nothing else
    // of a table does.
    bool table(XmlEntry& entry, QList<CsvFileRecord>* records, TextProblem* problem)
    {
        Sheet sheet(records);
        QString why;
        int row = 1;
        for (int depth = 1; depth > 0;) {
            const Step step = entry.child(&why);
            if (step == Step::Failed)
                return fail(problem, 0, why);
            if (step == Step::End)
                --depth;
            else if (entry.isStart("table-row")) {
                if (!odsRow(entry, &row, &sheet, problem))
                    return false;
            } else if (entry.isStart("table-header-rows") || entry.isStart("table-row-group")
                || entry.isStart("table-rows"))
                ++depth;
            else if (!entry.skip(&why))
                return fail(problem, 0, why);
        }
        return true;
    }

    bool readContent(Archive* archive, QList<CsvFileRecord>* records, TextProblem* problem)
    {
        XmlEntry entry(archive);
        QString why;
        if (!entry.open(QStringLiteral("content.xml"), &why))
            return fail(problem, 0, why);
        QXmlStreamReader::TokenType token;
        while ((token = entry.next(&why)) != QXmlStreamReader::Invalid && !entry.isStart("table")) { }
        if (token == QXmlStreamReader::Invalid)
            return fail(problem, 0, why.isEmpty() ? QStringLiteral("the workbook has no sheet") : why);
        return table(entry, records, problem);
    }
}

bool ReadOds(Archive* archive, QList<CsvFileRecord>* records, TextProblem* problem)
{
    const QString manifest = QStringLiteral("META-INF/manifest.xml");
    QString why;
    if (archive->has(manifest)) {
        XmlEntry entry(archive);
        if (!entry.open(manifest, &why))
            return fail(problem, 0, why);
        while (entry.next(&why) != QXmlStreamReader::Invalid) {
            if (entry.isStart("encryption-data"))
                return fail(
                    problem, 0, QStringLiteral("is an encrypted workbook: save it again without a password"));
        }
        if (!why.isEmpty())
            return fail(problem, 0, why);
    }
    return readContent(archive, records, problem);
}
}
