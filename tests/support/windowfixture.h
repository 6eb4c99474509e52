// The main window shown, as the window's tests start from it: the window, its table and
// its search button.
#pragma once

#include "mainwindow.h"
#include "privatenetwork.h"

#include <QString>

class QPushButton;
class QTableWidget;
class QWidget;

// The words a person reads in the widget's tool tip: Qt renders it as markup when it looks
// like markup, as plain text otherwise.
QString ShownToolTip(const QWidget* widget);

class WindowFixture {
public:
    WindowFixture();
    WindowFixture(const WindowFixture&) = delete;
    WindowFixture& operator=(const WindowFixture&) = delete;

    // False when the window was not shown on the screen in time.
    bool exposed() const { return m_exposed; }

    // Presses the search button: the table empties and its row count starts again.
    void search();

    // The text of a cell; a null string when the cell has no item.
    QString cell(int row, int column) const;

private:
    RefuseOutsidePrivateNetwork m_guard; // before the window: built first

public:
    MainWindow window;
    QTableWidget* table = nullptr;
    QPushButton* searchButton = nullptr;

private:
    bool m_exposed = false;
};
