// Small workbooks and zip archives for tests, packed with minizip's zip API.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QTemporaryDir>

#include <zip.h>

using ZipEntries = QList<QPair<QByteArray, QByteArray>>;

// The archive of the entries in order, deflated, or empty when it cannot be made.
inline QByteArray ZipOf(const ZipEntries& entries)
{
    QTemporaryDir dir;
    const QByteArray path = dir.filePath(QStringLiteral("archive.zip")).toLocal8Bit();
    zipFile zip = zipOpen64(path.constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return QByteArray();
    bool ok = true;
    for (const auto& [name, bytes] : entries) {
        zip_fileinfo info {};
        // The mimetype of an OpenDocument file is stored, as readers look for it unpacked.
        const int method = name == "mimetype" ? 0 : Z_DEFLATED;
        ok = ok
            && zipOpenNewFileInZip64(zip, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                   Z_BEST_COMPRESSION, 1)
                == ZIP_OK
            && zipWriteInFileInZip(zip, bytes.constData(), unsigned(bytes.size())) == ZIP_OK
            && zipCloseFileInZip(zip) == ZIP_OK;
    }
    ok = zipClose(zip, nullptr) == ZIP_OK && ok;
    QFile file(QString::fromLocal8Bit(path));
    return ok && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An .xlsx whose one sheet holds the rows given (the XML inside sheetData).
inline QByteArray XlsxOf(const QByteArray& rows, const QByteArray& sharedStrings = QByteArray(),
    const QByteArray& styles = QByteArray())
{
    const QByteArray main = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    ZipEntries entries {
        { "[Content_Types].xml",
            "<?xml version=\"1.0\"?><Types "
            "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>" },
        { "xl/workbook.xml",
            "<workbook " + main + " xmlns:r=\"" + rel
                + "\"><sheets><sheet name=\"Plan\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>" },
        { "xl/_rels/workbook.xml.rels",
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"rId1\" Type=\""
                + rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\""
                + rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/><Relationship Id=\"rId3\" Type=\""
                + rel + "/styles\" Target=\"/xl/styles.xml\"/></Relationships>" },
        { "xl/worksheets/sheet1.xml",
            "<worksheet " + main + "><sheetData>" + rows + "</sheetData></worksheet>" },
        { "xl/sharedStrings.xml", "<sst " + main + ">" + sharedStrings + "</sst>" },
        { "xl/styles.xml", "<styleSheet " + main + ">" + styles + "</styleSheet>" },
    };
    return ZipOf(entries);
}

// An .xlsx of inline-string cells, one row per list.
inline QByteArray XlsxOfTexts(const QList<QStringList>& rows)
{
    QByteArray xml;
    for (const QStringList& row : rows) {
        xml += "<row>";
        for (const QString& cell : row)
            xml += "<c t=\"inlineStr\"><is><t>" + cell.toHtmlEscaped().toUtf8() + "</t></is></c>";
        xml += "</row>";
    }
    return XlsxOf(xml);
}

// An .ods whose first sheet holds the rows given (the XML inside table:table), and a second
// sheet that a plan never reads.
inline QByteArray OdsOf(const QByteArray& rows, const QByteArray& manifest = QByteArray())
{
    const QByteArray content = "<office:document-content "
                               "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                               "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
                               "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\">"
                               "<office:body><office:spreadsheet><table:table table:name=\"Plan\">"
        + rows
        + "</table:table><table:table table:name=\"Other\"><table:table-row><table:table-cell "
          "office:value-type=\"string\"><text:p>other</text:p></table:table-cell></table:table-row>"
          "</table:table></office:spreadsheet></office:body></office:document-content>";
    ZipEntries entries { { "mimetype", "application/vnd.oasis.opendocument.spreadsheet" },
        { "content.xml", content } };
    if (!manifest.isEmpty())
        entries.append({ "META-INF/manifest.xml", manifest });
    return ZipOf(entries);
}
