// The first sheet of an .xlsx: its rows by their numbers, its cells by their references, the
// shared strings and the number formats that tell a date from a number.
#include "output.h"
#include "workbookarchive.h"
#include "workbookformats.h"
#include "workbooklimits.h"
#include "workbooksheet.h"

#include <QDir>
#include <QHash>

namespace workbook {
namespace {
    enum class NumberLook { Plain, Date, Percent };

    struct Xlsx {
        QStringList shared;
        qint64 sharedText = 0;
        QList<NumberLook> styles; // by cellXfs index
    };

    // A part a relationship names, as a name in the archive.
    QString partName(const QString& folder, const QString& target)
    {
        return QDir::cleanPath(target.startsWith(QLatin1Char('/')) ? target.mid(1) : folder + target);
    }

    // The built-in number formats that show a date or time, those of East Asian locales included.
    bool dateFormatId(int id)
    {
        return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47)
            || (id >= 50 && id <= 58);
    }

    // A format code shows a date or time when it holds d, m, y, h or s outside quotes,
    // brackets and the word General, or an elapsed [h], [m] or [s].
    NumberLook formatLook(const QString& written)
    {
        const QString code = QString(written).remove(QLatin1String("general"), Qt::CaseInsensitive);
        bool percent = false;
        for (int i = 0; i < code.size(); ++i) {
            const QChar c = code.at(i).toLower();
            if (c == QLatin1Char('"')) {
                const int close = code.indexOf(QLatin1Char('"'), i + 1);
                i = close < 0 ? code.size() : close;
            } else if (c == QLatin1Char('\\') || c == QLatin1Char('_') || c == QLatin1Char('*'))
                ++i;
            else if (c == QLatin1Char('[')) {
                const int close = code.indexOf(QLatin1Char(']'), i + 1);
                const QString inside = code.mid(i + 1, close < 0 ? -1 : close - i - 1).toLower();
                if (!inside.isEmpty() && QStringLiteral("hms").contains(inside.at(0))
                    && inside.count(inside.at(0)) == inside.size())
                    return NumberLook::Date;
                i = close < 0 ? code.size() : close;
            } else if (QStringLiteral("dmyhs").contains(c))
                return NumberLook::Date;
            else if (c == QLatin1Char('%'))
                percent = true;
        }
        return percent ? NumberLook::Percent : NumberLook::Plain;
    }

    // A string as the workbook format escapes it: _xHHHH_ stands for the character HHHH (how
    // writers keep control characters), so a text's own "_x" is written _x005F_x.
    QString unescaped(const QString& text)
    {
        if (!text.contains(QLatin1String("_x")))
            return text;
        const auto hex = [](QChar c) { return c.isDigit() || (c.toLower() >= 'a' && c.toLower() <= 'f'); };
        QString out;
        for (int i = 0; i < text.size(); ++i) {
            if (text.at(i) == QLatin1Char('_') && i + 6 < text.size() && text.at(i + 1) == QLatin1Char('x')
                && text.at(i + 6) == QLatin1Char('_') && hex(text.at(i + 2)) && hex(text.at(i + 3))
                && hex(text.at(i + 4)) && hex(text.at(i + 5))) {
                out += QChar(text.midRef(i + 2, 4).toUShort(nullptr, 16));
                i += 6;
            } else
                out += text.at(i);
        }
        return out;
    }

    // An inline or shared string: its text runs, without the phonetic guides, within a
    // cell's limit.
    bool stringItem(XmlEntry& entry, QString* text, QString* why)
    {
        for (int depth = 1; depth > 0;) {
            const QXmlStreamReader::TokenType token = entry.next(why);
            if (token == QXmlStreamReader::Invalid)
                return entry.ended(why);
            if (entry.isStart("rPh") || entry.isStart("phoneticPr")) {
                if (!entry.skip(why))
                    return false;
            } else if (entry.isStart("t")) {
                if (!entry.text(text, kMaxCellText, why))
                    return false;
            } else
                depth += depthStep(token);
        }
        return true;
    }

    bool readSharedStrings(Archive* archive, const QString& name, Xlsx* book, QString* why)
    {
        XmlEntry entry(archive);
        if (!entry.open(name, why))
            return false;
        while (entry.next(why) != QXmlStreamReader::Invalid) {
            if (!entry.isStart("si"))
                continue;
            QString text;
            if (!stringItem(entry, &text, why)) {
                if (!entry.broken())
                    *why = QStringLiteral("shared string %1 %2").arg(book->shared.size()).arg(*why);
                return false;
            }
            book->shared.append(unescaped(text));
            book->sharedText += text.size();
            if (book->sharedText > kMaxWorkbookText)
                break; // the sheet refuses it
        }
        return why->isEmpty();
    }

    NumberLook styleLook(int id, const QHash<int, NumberLook>& custom)
    {
        return custom.contains(id) ? custom.value(id)
            : dateFormatId(id)     ? NumberLook::Date
            : id == 9 || id == 10  ? NumberLook::Percent
                                   : NumberLook::Plain;
    }

    bool readStyles(Archive* archive, const QString& name, Xlsx* book, QString* why)
    {
        XmlEntry entry(archive);
        if (!entry.open(name, why))
            return false;
        QHash<int, NumberLook> custom;
        bool inCellXfs = false;
        for (QXmlStreamReader::TokenType token; (token = entry.next(why)) != QXmlStreamReader::Invalid;) {
            if (entry.isStart("numFmt"))
                custom.insert(BoundedNumber(entry.attribute("numFmtId"), kMaxWorkbookIndex),
                    formatLook(entry.attribute("formatCode")));
            else if (entry.isStart("cellXfs"))
                inCellXfs = true;
            else if (token == QXmlStreamReader::EndElement && entry.xml.name() == QLatin1String("cellXfs"))
                inCellXfs = false;
            else if (inCellXfs && entry.isStart("xf"))
                book->styles.append(
                    styleLook(BoundedNumber(entry.attribute("numFmtId"), kMaxWorkbookIndex), custom));
        }
        return why->isEmpty();
    }

    // A number cell, by the look of its style (an unknown style is a plain number).
    void numberCell(const QString& value, NumberLook look, Cell* cell)
    {
        cell->text = value.trimmed();
        if (look == NumberLook::Date)
            cell->problem = QLatin1String(kDateProblem);
        else if (look == NumberLook::Percent)
            cell->problem = QStringLiteral("holds a percentage; format the column as text and type it again");
        else if (!WholeNumber(value, &cell->text, &cell->problem))
            cell->text = value.trimmed();
    }

    // What the plan reader may make of a cell's value and type.
    bool xlsxValue(const QString& type, const QString& value, NumberLook look, const Xlsx& book, Cell* cell,
        QString* why)
    {
        if (type == QLatin1String("s")) {
            const int index = BoundedNumber(value, kMaxWorkbookIndex);
            if (index < 0 || index >= book.shared.size()) {
                *why = QStringLiteral("refers to shared string '%1', which the workbook does not have")
                           .arg(TerminalSafe(value.left(20)));
                return false;
            }
            cell->text = book.shared.at(index);
        } else if (type == QLatin1String("inlineStr") || type == QLatin1String("str"))
            cell->text = unescaped(value);
        else if (type == QLatin1String("b")) {
            cell->text
                = value.trimmed() == QLatin1String("1") ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
            cell->problem = QStringLiteral("holds a truth value, not text");
        } else if (type == QLatin1String("e")) {
            cell->text = value.isEmpty() ? QStringLiteral("#") : value;
            cell->problem = QStringLiteral("holds the error %1").arg(TerminalSafe(value.left(20)));
        } else if (type == QLatin1String("d")) {
            cell->text = value.isEmpty() ? QStringLiteral("0") : value;
            cell->problem = QLatin1String(kDateProblem);
        } else if (!value.trimmed().isEmpty())
            numberCell(value, look, cell);
        return true;
    }

    // A worksheet cell: its value and type, then what the plan reader may make of it.
    bool xlsxCell(XmlEntry& entry, const Xlsx& book, Cell* cell, QString* why)
    {
        QString type = entry.attribute("t");
        const NumberLook look = book.styles.value(BoundedNumber(entry.attribute("s"), kMaxWorkbookIndex));
        QString value;
        bool formula = false;
        for (Step step; (step = entry.child(why)) != Step::End;) {
            if (step == Step::Failed)
                return false;
            if (entry.isStart("v")) {
                if (!entry.text(&value, kMaxCellText, why))
                    return false;
            } else if (entry.isStart("is")) {
                if (type != QLatin1String("s"))
                    type = QStringLiteral("inlineStr");
                if (!stringItem(entry, &value, why))
                    return false;
            } else {
                formula = formula || entry.isStart("f");
                if (!entry.skip(why))
                    return false;
            }
        }
        if (!xlsxValue(type, value, look, book, cell, why))
            return false;
        if (formula) {
            cell->problem = QLatin1String(kFormulaProblem);
            if (cell->text.isEmpty())
                cell->text = QStringLiteral("=");
        }
        return true;
    }

    // A row's number: r as written, from 1 to a sheet's last row, or the one after the row
    // before it. Rows go down the sheet, so that the row limit bounds the rows kept.
    bool rowNumber(const XmlEntry& entry, int before, int* row, TextProblem* problem)
    {
        const bool written = entry.xml.attributes().hasAttribute(QLatin1String("r"));
        *row = written ? BoundedNumber(entry.attribute("r"), kMaxSheetRows + 1) : before + 1;
        if (*row > before && *row <= kMaxSheetRows)
            return true;
        if (*row >= 1 && *row <= before)
            return fail(problem, *row,
                QStringLiteral("row %1 comes after row %2: rows out of order").arg(*row).arg(before));
        const int line = qMin(before + 1, kMaxSheetRows + 1);
        if (!written)
            return fail(
                problem, line, QStringLiteral("a row past row %1, the last of a sheet").arg(kMaxSheetRows));
        return fail(problem, line,
            QStringLiteral("row number '%1' is not a row of a sheet (1 to %2)")
                .arg(TerminalSafe(entry.attribute("r").left(24)))
                .arg(kMaxSheetRows));
    }

    // The column (from 0) a cell reference names (C7: 2), or -1 when it names no cell of a
    // sheet (A1 to XFD1048576).
    int referenceColumn(const QString& reference)
    {
        int column = 0, i = 0;
        for (; i < reference.size() && i < 3 && reference.at(i).toUpper() >= 'A'
             && reference.at(i).toUpper() <= 'Z';
             ++i)
            column = column * 26 + (reference.at(i).toUpper().unicode() - 'A' + 1);
        if (i == 0 || column > kMaxWorkbookColumns || i == reference.size() || !reference.at(i).isDigit())
            return -1;
        const int row = BoundedNumber(reference.mid(i), kMaxSheetRows + 1);
        return row >= 1 && row <= kMaxSheetRows ? column - 1 : -1;
    }

    // A cell's column: its reference's, or the one after the cell before it.
    bool cellColumn(const XmlEntry& entry, int row, int* column, TextProblem* problem)
    {
        if (!entry.xml.attributes().hasAttribute(QLatin1String("r"))) {
            *column = qMin(*column + 1, kMaxWorkbookColumns);
            return true;
        }
        *column = referenceColumn(entry.attribute("r"));
        return *column >= 0
            || fail(problem, row,
                QStringLiteral("cell reference '%1' names no cell of a sheet (A1 to %2%3)")
                    .arg(TerminalSafe(entry.attribute("r").left(24)), columnLetters(kMaxWorkbookColumns - 1))
                    .arg(kMaxSheetRows));
    }

    // The cells of the row just started, into the sheet.
    bool xlsxRow(XmlEntry& entry, const Xlsx& book, int row, Sheet* sheet, TextProblem* problem)
    {
        QString why;
        int column = -1;
        Step step;
        while ((step = entry.child(&why)) == Step::Child) {
            if (!entry.isStart("c")) {
                if (!entry.skip(&why))
                    return fail(problem, 0, why);
                continue;
            }
            Cell cell;
            if (!cellColumn(entry, row, &column, problem))
                return false;
            if (!xlsxCell(entry, book, &cell, &why))
                return CellFailed(entry.broken(), row, column, why, problem);
            if (!sheet->put(row, column, 1, cell, problem))
                return false;
        }
        return step == Step::End ? sheet->endRow(row, 1, problem) : fail(problem, 0, why);
    }

    bool readWorksheet(Archive* archive, const QString& name, const Xlsx& book, QList<CsvFileRecord>* records,
        TextProblem* problem)
    {
        XmlEntry entry(archive);
        QString why;
        if (!entry.open(name, &why))
            return fail(problem, 0, why);
        Sheet sheet(records);
        if (!sheet.spend(book.sharedText, 0, problem))
            return false;
        int row = 0;
        while (entry.next(&why) != QXmlStreamReader::Invalid) {
            if (entry.isStart("row")
                && (!rowNumber(entry, row, &row, problem) || !xlsxRow(entry, book, row, &sheet, problem)))
                return false;
        }
        return why.isEmpty() || fail(problem, 0, why);
    }

    // The relationship id of the workbook's first sheet.
    bool firstSheet(Archive* archive, QString* relation, QString* why)
    {
        XmlEntry entry(archive);
        if (!entry.open(QStringLiteral("xl/workbook.xml"), why))
            return false;
        while (relation->isEmpty() && entry.next(why) != QXmlStreamReader::Invalid) {
            if (entry.isStart("sheet"))
                *relation = entry.prefixed("id");
        }
        if (relation->isEmpty() && why->isEmpty())
            *why = QStringLiteral("the workbook names no sheet");
        return !relation->isEmpty();
    }

    struct Parts {
        QString sheet, shared, styles;
    };

    // The parts the workbook's relationships name: its first sheet, the shared strings, the styles.
    bool workbookParts(Archive* archive, const QString& relation, Parts* parts, QString* why)
    {
        XmlEntry entry(archive);
        if (!entry.open(QStringLiteral("xl/_rels/workbook.xml.rels"), why))
            return false;
        while (entry.next(why) != QXmlStreamReader::Invalid) {
            if (!entry.isStart("Relationship") || entry.attribute("TargetMode") == QLatin1String("External"))
                continue;
            const QString part = partName(QStringLiteral("xl/"), entry.attribute("Target"));
            const QString type = entry.attribute("Type");
            if (entry.attribute("Id") == relation)
                parts->sheet = part;
            else if (type.endsWith(QLatin1String("/sharedStrings")))
                parts->shared = part;
            else if (type.endsWith(QLatin1String("/styles")))
                parts->styles = part;
        }
        if (why->isEmpty() && parts->sheet.isEmpty())
            *why = QStringLiteral("the workbook's first sheet is not in the file");
        return why->isEmpty();
    }
}

bool ReadXlsx(Archive* archive, QList<CsvFileRecord>* records, TextProblem* problem)
{
    QString why, relation;
    Parts parts;
    Xlsx book;
    if (!firstSheet(archive, &relation, &why) || !workbookParts(archive, relation, &parts, &why)
        || (!parts.shared.isEmpty() && !readSharedStrings(archive, parts.shared, &book, &why))
        || (!parts.styles.isEmpty() && !readStyles(archive, parts.styles, &book, &why)))
        return fail(problem, 0, why);
    return readWorksheet(archive, parts.sheet, book, records, problem);
}
}
