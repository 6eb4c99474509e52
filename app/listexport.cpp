#include "listexport.h"

#include "mainwindow.h"
#include "output.h"
#include "plaintext.h"
#include "tablefile.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>

ListExport::ListExport(MainWindow* window)
    : QObject(window)
    , window(window)
{
    auto* button = new QPushButton(tr("导出列表…"), window->formColumn());
    button->setObjectName(QStringLiteral("exportButton"));
    button->setGeometry(980, 345, 255, 27);
    connect(button, &QPushButton::clicked, this, &ListExport::chooseAndExport);
    auto* save = new QShortcut(QKeySequence::Save, window);
    save->setContext(Qt::WindowShortcut);
    connect(save, &QShortcut::activated, this, &ListExport::chooseAndExport);
}

void ListExport::chooseAndExport()
{
    const QString workbook = tr("工作簿 (*.xlsx)");
    const QString csv = tr("CSV 文件 (*.csv)");
    if (lastPath.isEmpty())
        lastPath = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                       .filePath(QStringLiteral("devices.xlsx"));
    QString filter = TableFileFormatOf(lastPath) == TableFileFormat::Csv ? csv : workbook;
    QString path = QFileDialog::getSaveFileName(
        window, tr("导出列表"), lastPath, workbook + QStringLiteral(";;") + csv, &filter);
    if (path.isEmpty())
        return;
    // A name without one of the two suffixes gets the chosen filter's, which also decides
    // the format; "site.2024" is a name, not a format.
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("xlsx") && suffix != QLatin1String("csv"))
        path += filter == csv ? QStringLiteral(".csv") : QStringLiteral(".xlsx");
    lastPath = path;
    exportTo(path);
}

bool ListExport::exportTo(const QString& path)
{
    QList<QList<OutputCell>> rows;
    for (const ListedDevice& listed : window->listedDevices())
        rows.append(OutputCells(listed.entry));
    QString why;
    const QString shown = QDir::toNativeSeparators(path);
    if (!WriteTableFile(path, TableFileFormatOf(path), OutputColumns<Entry>(), rows, &why)) {
        // open(), not exec(): no event loop of its own inside whoever asked for the export.
        auto* box = new QMessageBox(QMessageBox::Warning, tr("导出列表"), QString(), QMessageBox::Ok, window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        SetPlainText(box, tr("无法导出到 %1：%2").arg(shown, why));
        box->open();
        return false;
    }
    SetPlainText(window->noteLabel(), tr("已导出 %n 台设备到 %1", "", rows.size()).arg(shown));
    return true;
}
