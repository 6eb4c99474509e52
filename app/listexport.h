// The window's list as a file for a spreadsheet: a button in the form's column and Ctrl+S
// open a save dialog; the file has the companion's columns, so with its ip column edited
// it is a plan for both programs.
#pragma once

#include "output.h"

#include <QObject>
#include <QString>

class MainWindow;
class QWidget;

// Asks where to save a table, as a workbook (the default) or CSV, starting at *lastPath
// (a name in Documents when empty) and remembering the choice there. A name without either
// suffix gets the chosen filter's. Empty when the dialog was cancelled.
QString ChooseTableFile(QWidget* parent, const QString& title, const QString& firstName, QString* lastPath);

// Writes the table to path, in the format its suffix names; on failure a warning, modal to
// parent, says why. The file's cells and the reason are shown as written.
bool SaveTableFile(QWidget* parent, const QString& title, const QString& path, const QStringList& columns,
    const QList<QList<OutputCell>>& rows);

class ListExport : public QObject {
    Q_OBJECT
public:
    // Belongs to the window; adds the button and the shortcut to it.
    explicit ListExport(MainWindow* window);

    // Asks where, then exports there; nothing when the dialog is cancelled.
    void chooseAndExport();
    // One row per table row, in table order, as a workbook or (by its .csv suffix) CSV.
    // On failure a warning says why and nothing else changes; on success the status line
    // says where the list went.
    bool exportTo(const QString& path);

private:
    MainWindow* window = nullptr;
    QString lastPath; // where the dialog opens next
};
