// Ctrl+C in the device table: the selected rows go to the clipboard as a spreadsheet pastes
// them, header first, every cell as text.
#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

class QTableWidget;

class TableCopy : public QObject {
    Q_OBJECT
public:
    // Belongs to the table and watches its keys from then on.
    explicit TableCopy(QTableWidget* table);

    // The header's titles, then each row that has a selected cell, in table order; the
    // check-box column is left out, since it shows no text. Empty when nothing is selected.
    QList<QStringList> selectedRows() const;
    // Puts the selected rows on the clipboard as text and HTML; nothing selected, nothing put.
    void copy() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTableWidget* table = nullptr;
};
