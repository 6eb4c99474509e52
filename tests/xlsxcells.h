// Reads back a workbook's first sheet as its cells, independently of the writer: the zip
// through minizip's unzip, the parts through QXmlStreamReader.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>

#include <unzip.h>

struct XlsxCell {
    QString type; // the t attribute: "s" for a shared string, empty for a number
    QString style; // the s attribute
    QString value; // a string cell's text, or a number cell's <v>
    bool formula = false; // it has an <f>
};

struct XlsxSheet {
    QMap<QString, XlsxCell> cells; // by reference, "A1"
    QByteArray sheetXml;
    QByteArray stylesXml;
    bool boldStyle(const QString& style) const;
};

// One part of the zip, empty when it is not there.
inline QByteArray XlsxPart(const QString& path, const char* part)
{
    QByteArray bytes;
    unzFile zip = unzOpen64(path.toLocal8Bit().constData());
    if (!zip)
        return bytes;
    if (unzLocateFile(zip, part, 1) == UNZ_OK && unzOpenCurrentFile(zip) == UNZ_OK) {
        char buffer[16384];
        int n = 0;
        while ((n = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, n);
        unzCloseCurrentFile(zip);
    }
    unzClose(zip);
    return bytes;
}

// Text as a reader of the format decodes it: _xHHHH_ is the character HHHH.
inline QString XlsxUnescape(const QString& text)
{
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString plain;
    int at = 0;
    for (QRegularExpressionMatchIterator it = escape.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        plain += text.mid(at, m.capturedStart() - at) + QChar(m.captured(1).toUShort(nullptr, 16));
        at = m.capturedEnd();
    }
    return plain + text.mid(at);
}

// False when the workbook or a part of it cannot be read.
inline bool ReadXlsx(const QString& path, XlsxSheet* sheet, QString* why)
{
    QStringList shared;
    {
        QXmlStreamReader xml(XlsxPart(path, "xl/sharedStrings.xml"));
        QString current;
        bool inSi = false;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement() && xml.name() == QLatin1String("si")) {
                inSi = true;
                current.clear();
            } else if (inSi && xml.isStartElement() && xml.name() == QLatin1String("t")) {
                current += xml.readElementText();
            } else if (xml.isEndElement() && xml.name() == QLatin1String("si")) {
                shared << XlsxUnescape(current);
                inSi = false;
            }
        }
        if (xml.hasError()) {
            *why = QStringLiteral("sharedStrings.xml: ") + xml.errorString();
            return false;
        }
    }
    sheet->sheetXml = XlsxPart(path, "xl/worksheets/sheet1.xml");
    sheet->stylesXml = XlsxPart(path, "xl/styles.xml");
    QXmlStreamReader xml(sheet->sheetXml);
    XlsxCell cell;
    QString ref;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("c")) {
            cell = XlsxCell();
            ref = xml.attributes().value("r").toString();
            cell.type = xml.attributes().value("t").toString();
            cell.style = xml.attributes().value("s").toString();
        } else if (xml.isStartElement() && xml.name() == QLatin1String("f")) {
            cell.formula = true;
        } else if (xml.isStartElement() && xml.name() == QLatin1String("v")) {
            cell.value = xml.readElementText();
            if (cell.type == QLatin1String("s")) {
                const int index = cell.value.toInt();
                cell.value
                    = index >= 0 && index < shared.size() ? shared.at(index) : QStringLiteral("<bad index>");
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("c")) {
            sheet->cells.insert(ref, cell);
        }
    }
    if (xml.hasError() || sheet->sheetXml.isEmpty()) {
        *why = QStringLiteral("sheet1.xml: ") + (sheet->sheetXml.isEmpty() ? "missing" : xml.errorString());
        return false;
    }
    return true;
}

// Whether the cell format numbered style (a cellXfs entry) uses a bold font.
inline bool XlsxSheet::boldStyle(const QString& style) const
{
    QXmlStreamReader xml(stylesXml);
    QList<bool> fontsBold;
    QStringList xfFonts;
    QString section;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QStringRef name = xml.name();
            if (name == QLatin1String("fonts") || name == QLatin1String("cellXfs")
                || name == QLatin1String("cellStyleXfs"))
                section = name.toString();
            else if (section == QLatin1String("fonts") && name == QLatin1String("font"))
                fontsBold << false;
            else if (section == QLatin1String("fonts") && name == QLatin1String("b") && !fontsBold.isEmpty())
                fontsBold.last() = true;
            else if (section == QLatin1String("cellXfs") && name == QLatin1String("xf"))
                xfFonts << xml.attributes().value("fontId").toString();
        } else if (xml.isEndElement() && xml.name().toString() == section) {
            section.clear();
        }
    }
    const int xf = style.isEmpty() ? 0 : style.toInt();
    if (xf < 0 || xf >= xfFonts.size())
        return false;
    const int font = xfFonts.at(xf).toInt();
    return font >= 0 && font < fontsBold.size() && fontsBold.at(font);
}

// A cell reference from zero-based row and column, "A1" for (0, 0); up to column Z.
inline QString XlsxRef(int row, int column)
{
    return QChar('A' + column) + QString::number(row + 1);
}
