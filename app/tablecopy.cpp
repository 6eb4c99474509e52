#include "tablecopy.h"

#include "copiedrows.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMimeData>
#include <QTableWidget>

#include <algorithm>

namespace {
// Its items carry a check state and no text: a tick is a choice for the next batch, not
// something the device said.
constexpr int kCheckColumn = 0;

QString cellText(const QTableWidgetItem* item)
{
    return item ? item->text() : QString();
}
}

TableCopy::TableCopy(QTableWidget* table)
    : QObject(table)
    , table(table)
{
    table->installEventFilter(this);
}

QList<QStringList> TableCopy::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : table->selectionModel()->selectedIndexes())
        rows.append(index.row());
    if (rows.isEmpty())
        return {};
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());

    QList<int> columns;
    for (int column = 0; column < table->columnCount(); ++column) {
        if (column != kCheckColumn && !table->isColumnHidden(column))
            columns.append(column);
    }
    QList<QStringList> lines;
    QStringList header;
    for (int column : columns)
        header.append(cellText(table->horizontalHeaderItem(column)));
    lines.append(header);
    for (int row : rows) {
        QStringList cells;
        for (int column : columns)
            cells.append(cellText(table->item(row, column)));
        lines.append(cells);
    }
    return lines;
}

void TableCopy::copy() const
{
    const QList<QStringList> rows = selectedRows();
    if (rows.isEmpty())
        return;
    auto* data = new QMimeData;
    data->setText(CopiedRowsText(rows));
    data->setHtml(CopiedRowsHtml(rows));
    QGuiApplication::clipboard()->setMimeData(data);
}

bool TableCopy::eventFilter(QObject* watched, QEvent* event)
{
    // The view's own Ctrl+C copies one cell's text; whole rows replace it. Taking the
    // shortcut override as well keeps any window shortcut on the same keys away from it.
    if (watched == table && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)
        && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        if (event->type() == QEvent::KeyPress)
            copy();
        event->accept();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
