// Rows to standard output in the chosen format: CSV and JSON lines as each row is final,
// so that a pipe sees it at once; the table, the JSON array and the workbook once every
// row is.
#pragma once

#include "console.h"
#include "output.h"
#include "workbookout.h"
#include "workbookwriter.h"

#include <QList>
#include <QString>

#include <utility>

template <typename Row> class RowWriter {
public:
    RowWriter(OutputFormat format, QString csvHeader)
        : m_format(format)
        , m_csvHeader(std::move(csvHeader))
    {
    }
    // Before the first row.
    void begin() const
    {
        if (m_format == OutputFormat::Csv)
            out(m_csvHeader.toUtf8());
    }
    void final(const Row& row) const
    {
        if (m_format == OutputFormat::Csv)
            out(CsvRecord(row).toUtf8());
        else if (m_format == OutputFormat::JsonLines)
            out(JsonLine(row));
    }
    void finish(const QList<Row>& rows) const
    {
        if (m_format == OutputFormat::Table)
            out(TableText(rows).toUtf8());
        else if (m_format == OutputFormat::Json)
            out(JsonArray(rows));
        else if (m_format == OutputFormat::Xlsx)
            OutWorkbook(OutputColumns<Row>(), WorkbookRows(rows));
    }

private:
    OutputFormat m_format;
    QString m_csvHeader;
};
