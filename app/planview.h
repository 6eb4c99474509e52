// The view of a plan against the devices found: a line per row of the plan with what will
// happen to it, the devices the plan does not name, and a summary. Nothing is sent from
// here: the view only says which rows the person chose to set.
#pragma once

#include "mainwindow.h"
#include "output.h"
#include "planmatch.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QList>
#include <QStringList>

class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;

// What the view shows: the plan, the answer to it, and the table's rows it was held against.
struct PlanViewData {
    QList<Assignment> plan;
    PlanMatch match;
    QList<ListedDevice> listed;
    QString codePage; // the system's, when a CSV plan was read in it
};

// What will happen to a row of the plan, in the window's words.
QString PlanStateText(const PlanLine& line);

// The plan's lines as the view shows them, for a file: its columns, then a row per line.
QStringList PlanViewColumns();
QList<QList<OutputCell>> PlanViewRows(const PlanViewData& data);

// A model over the plan's lines, so a plan of any length opens at once.
class PlanModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit PlanModel(const PlanViewData* data, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const PlanViewData* m_data;
};

class PlanView : public QDialog {
    Q_OBJECT
public:
    PlanView(const PlanViewData* data, QWidget* parent);
    // The rows the set button sets, in the plan's order.
    int toSet() const;
    // This view's lines as a file; false, after a warning, when it could not be written.
    bool exportTo(const QString& path);

private:
    const PlanViewData* m_data;
    QTableView* m_table = nullptr;
    QTableWidget* m_others = nullptr;
    QPushButton* m_set = nullptr;
};
