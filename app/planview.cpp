#include "planview.h"

#include "addressrules.h"
#include "listexport.h"
#include "plaintext.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
enum Column { Serial, Now, New, Mask, Gateway, Adapter, State, Columns };

QString cellText(const PlanViewData& data, int row, int column)
{
    const Assignment& a = data.plan.at(row);
    const PlanLine& line = data.match.lines.at(row);
    // Where it answers, configurable or not.
    const int answer = line.found >= 0 ? line.found : line.first;
    const ListedDevice* found = answer >= 0 ? &data.listed.at(answer) : nullptr;
    switch (column) {
    case Serial:
        return a.sn;
    case Now:
        return found ? found->entry.device.ip.value_or(QString()) : QString();
    case New:
        return AddressText(a.ip);
    case Mask:
        return a.noMask ? QString() : AddressText(a.mask);
    case Gateway:
        return AddressText(a.gateway);
    case Adapter:
        return found ? found->entry.interfaceName : QString();
    case State:
        return PlanStateText(line);
    }
    return QString();
}
}

QString PlanStateText(const PlanLine& line)
{
    switch (line.state) {
    case PlanState::Set:
        return QCoreApplication::translate("PlanView", "设置");
    case PlanState::NotFound:
        // The companion's own words: they name what a spreadsheet did to the serial number.
        return line.hint.isEmpty() ? QCoreApplication::translate("PlanView", "未找到")
                                   : QCoreApplication::translate("PlanView", "未找到；%1").arg(line.hint);
    case PlanState::NotConfigurable:
        return QCoreApplication::translate("PlanView", "已找到，但不可配置");
    case PlanState::TwoAddresses:
        return QCoreApplication::translate("PlanView", "从多个地址应答（%1）：不设置，请自行勾选")
            .arg(line.addresses.join(QStringLiteral(", ")));
    case PlanState::TwoAdapters:
        return QCoreApplication::translate("PlanView", "在多个网卡上应答：不设置，请自行勾选");
    case PlanState::NoMask:
        return QCoreApplication::translate("PlanView", "没有子网掩码：无法设置");
    }
    return QString();
}

QStringList PlanViewColumns()
{
    return { QCoreApplication::translate("PlanView", "序列号"),
        QCoreApplication::translate("PlanView", "当前地址"),
        QCoreApplication::translate("PlanView", "新地址"),
        QCoreApplication::translate("PlanView", "子网掩码"),
        QCoreApplication::translate("PlanView", "网关地址"), QCoreApplication::translate("PlanView", "网卡"),
        QCoreApplication::translate("PlanView", "结果") };
}

QList<QList<OutputCell>> PlanViewRows(const PlanViewData& data)
{
    QList<QList<OutputCell>> rows;
    for (int row = 0; row < data.plan.size(); ++row) {
        QList<OutputCell> cells;
        for (int column = 0; column < Columns; ++column)
            cells.append({ cellText(data, row, column), {} });
        rows.append(cells);
    }
    return rows;
}

PlanModel::PlanModel(const PlanViewData* data, QObject* parent)
    : QAbstractTableModel(parent)
    , m_data(data)
{
}

int PlanModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_data->plan.size());
}

int PlanModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant PlanModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    if (role == Qt::DisplayRole)
        return cellText(*m_data, index.row(), index.column());
    if (role == Qt::ForegroundRole && index.column() == State
        && m_data->match.lines.at(index.row()).state != PlanState::Set)
        return QColor(Qt::darkRed);
    return QVariant();
}

QVariant PlanModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    return orientation == Qt::Horizontal ? QVariant(PlanViewColumns().value(section)) : QVariant(section + 1);
}

PlanView::PlanView(const PlanViewData* data, QWidget* parent)
    : QDialog(parent)
    , m_data(data)
{
    setWindowTitle(tr("计划"));
    // Wide enough for a not-found row's hint in full, the longest state most plans show.
    resize(1200, 600);

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("planTable"));
    m_table->setModel(new PlanModel(data, m_table));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    // Every row as tall as the first: nothing is measured per row, so any length opens at once.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(24);
    m_table->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = { 140, 110, 110, 110, 110, 90 };
    for (int column = 0; column < int(std::size(widths)); ++column)
        m_table->setColumnWidth(column, widths[column]);

    auto* othersTitle = new QLabel(tr("搜索到、但计划中没有的设备："), this);
    m_others = new QTableWidget(int(data->match.notInPlan.size()), 4, this);
    m_others->setObjectName(QStringLiteral("notInPlanTable"));
    m_others->setHorizontalHeaderLabels({ tr("序列号"), tr("IP地址"), tr("设备名称"), tr("网卡") });
    m_others->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_others->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_others->verticalHeader()->setDefaultSectionSize(24);
    m_others->horizontalHeader()->setStretchLastSection(true);
    m_others->setColumnWidth(0, 160);
    m_others->setColumnWidth(1, 110);
    m_others->setColumnWidth(2, 300);
    for (int k = 0; k < data->match.notInPlan.size(); ++k) {
        const Entry& e = data->listed.at(data->match.notInPlan.at(k)).entry;
        const QString texts[] = { e.device.sn.value_or(QString()), e.device.ip.value_or(QString()),
            e.device.name.value_or(QString()), e.interfaceName };
        for (int column = 0; column < 4; ++column)
            m_others->setItem(k, column, new QTableWidgetItem(texts[column]));
    }

    const PlanMatch& match = data->match;
    QString summary = tr("计划 %1 行：设置 %2 台，未找到 %3 台；另有 %4 台设备不在计划中")
                          .arg(data->plan.size())
                          .arg(match.count(PlanState::Set))
                          .arg(match.count(PlanState::NotFound))
                          .arg(match.notInPlan.size());
    if (!data->codePage.isEmpty())
        summary += QLatin1Char('\n') + tr("计划不是 UTF-8 文本：已按系统代码页 %1 读取").arg(data->codePage);
    auto* summaryLabel = new QLabel(this);
    summaryLabel->setObjectName(QStringLiteral("planSummary"));
    SetPlainText(summaryLabel, summary);

    const int n = toSet();
    m_set = new QPushButton(tr("设置 %n 台设备", nullptr, n), this);
    m_set->setObjectName(QStringLiteral("planSetButton"));
    m_set->setEnabled(n > 0);
    m_set->setDefault(true);
    auto* save = new QPushButton(tr("导出…"), this);
    save->setObjectName(QStringLiteral("planExportButton"));
    save->setAutoDefault(false);
    connect(save, &QPushButton::clicked, this, [this] {
        static QString lastPath; // where the dialog opens next, for every plan
        const QString path = ChooseTableFile(this, tr("导出计划"), QStringLiteral("plan.xlsx"), &lastPath);
        if (!path.isEmpty())
            exportTo(path);
    });
    auto* cancel = new QPushButton(tr("取消"), this);
    cancel->setObjectName(QStringLiteral("planCancelButton"));
    cancel->setAutoDefault(false);
    connect(m_set, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(summaryLabel, 1);
    buttons->addWidget(m_set);
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table, 3);
    layout->addWidget(othersTitle);
    layout->addWidget(m_others, 1);
    layout->addLayout(buttons);
    m_set->setFocus();
}

int PlanView::toSet() const
{
    return m_data->match.count(PlanState::Set);
}

bool PlanView::exportTo(const QString& path)
{
    return SaveTableFile(this, tr("导出计划"), path, PlanViewColumns(), PlanViewRows(*m_data));
}
