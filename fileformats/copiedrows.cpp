#include "copiedrows.h"

namespace {
// Spreadsheets read a number out of any cell that looks like one, and run a formula out of
// one that starts with "=". Excel keeps a cell as text for its own two marks, the text
// number format and x:str; LibreOffice Calc reads neither but keeps its own sdnum.
const QLatin1String kTextCell(R"( x:str style='mso-number-format:"\@"' sdnum="1033;0;@")");

QString CopiedCell(const QString& text)
{
    QString cell = text;
    for (QChar& c : cell) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    }
    return cell;
}
}

QString CopiedRowsText(const QList<QStringList>& rows)
{
    QString text;
    for (const QStringList& row : rows) {
        QStringList cells;
        cells.reserve(row.size());
        for (const QString& cell : row)
            cells.append(CopiedCell(cell));
        text += cells.join(QLatin1Char('\t'));
        text += QLatin1Char('\n');
    }
    return text;
}

QString CopiedRowsHtml(const QList<QStringList>& rows)
{
    // The fragment marks tell Windows' clipboard which part is the table; the charset, that
    // the bytes are UTF-8 whatever the reader would assume.
    QString html = QStringLiteral(
        "<html xmlns:x=\"urn:schemas-microsoft-com:office:excel\">\n"
        "<head><meta http-equiv=\"content-type\" content=\"text/html; charset=utf-8\"></head>\n"
        "<body>\n<!--StartFragment--><table>\n");
    bool header = true;
    for (const QStringList& row : rows) {
        html += QLatin1String("<tr>");
        for (const QString& cell : row) {
            html += QLatin1String(header ? "<th" : "<td");
            html += kTextCell;
            html += QLatin1Char('>');
            html += CopiedCell(cell).toHtmlEscaped();
            html += QLatin1String(header ? "</th>" : "</td>");
        }
        html += QLatin1String("</tr>\n");
        header = false;
    }
    html += QLatin1String("</table><!--EndFragment-->\n</body>\n</html>\n");
    return html;
}
