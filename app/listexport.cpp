#include "listexport.h"

#include "mainwindow.h"
#include "output.h"
#include "plaintext.h"
#include "tablefile.h"

#include <QCoreApplication>
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

QString ChooseTableFile(QWidget* parent, const QString& title, const QString& firstName, QString* lastPath)
{
    const QString workbook = QCoreApplication::translate("ListExport", "工作簿 (*.xlsx)");
    const QString csv = QCoreApplication::translate("ListExport", "CSV 文件 (*.csv)");
    if (lastPath->isEmpty())
        *lastPath
            = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(firstName);
    QString filter = TableFileFormatOf(*lastPath) == TableFileFormat::Csv ? csv : workbook;
    QString path = QFileDialog::getSaveFileName(
        parent, title, *lastPath, workbook + QStringLiteral(";;") + csv, &filter);
    if (path.isEmpty())
        return QString();
    // A name without one of the two suffixes gets the chosen filter's, which also decides
    // the format; "site.2024" is a name, not a format.
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("xlsx") && suffix != QLatin1String("csv"))
        path += filter == csv ? QStringLiteral(".csv") : QStringLiteral(".xlsx");
    *lastPath = path;
    return path;
}

bool SaveTableFile(QWidget* parent, const QString& title, const QString& path, const QStringList& columns,
    const QList<QList<OutputCell>>& rows)
{
    QString why;
    if (WriteTableFile(path, TableFileFormatOf(path), columns, rows, &why))
        return true;
    // open(), not exec(): no event loop of its own inside whoever asked for the export.
    auto* box = new QMessageBox(QMessageBox::Warning, title, QString(), QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    SetPlainText(box,
        QCoreApplication::translate("ListExport", "无法导出到 %1：%2")
            .arg(QDir::toNativeSeparators(path), why));
    box->open();
    return false;
}

void ListExport::chooseAndExport()
{
    const QString path = ChooseTableFile(window, tr("导出列表"), QStringLiteral("devices.xlsx"), &lastPath);
    if (!path.isEmpty())
        exportTo(path);
}

bool ListExport::exportTo(const QString& path)
{
    QList<QList<OutputCell>> rows;
    for (const ListedDevice& listed : window->listedDevices())
        rows.append(OutputCells(listed.entry));
    if (!SaveTableFile(window, tr("导出列表"), path, OutputColumns<Entry>(), rows))
        return false;
    SetPlainText(window->noteLabel(),
        tr("已导出 %n 台设备到 %1", "", rows.size()).arg(QDir::toNativeSeparators(path)));
    return true;
}
