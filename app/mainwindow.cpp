#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "adapters.h"
#include "addresscheck.h"
#include "aicheckboxheader.h"
#include "customsignal.h"
#include "devicefields.h"
#include "deviceframe.h"
#include "diagnostics.h"
#include "listexport.h"
#include "plaintext.h"
#include "planflow.h"
#include "portnotice.h"
#include "service.h"
#include "tablecopy.h"
#include "takenaddresses.h"
#include "threadgetdevice.h"

#include <QCloseEvent>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>

#include <cstdlib>
#include <cstring>

namespace {
sockaddr_in g_probeDestination;

// Every added row makes the table lay out and repaint all its visible cells and its scroll
// bars, which costs far more than the row itself; rows that come in quick succession are
// painted together, at most once per this many milliseconds, quicker than the eye follows.
constexpr int kTablePaintIntervalMs = 40;

// Where a row keeps, unseen, the interface its device answered on: on the ordinal's cell,
// which every row has.
constexpr int kOrdinalColumn = 1;
constexpr int kAdapterRole = Qt::UserRole;

// The parts of the table that an added row repaints: the cells, and the scroll bars with
// the frames that hold them. The header is left out: a click on its check box must show
// at once.
void setRowPaint(QTableWidget* table, bool enabled)
{
    table->viewport()->setUpdatesEnabled(enabled);
    table->verticalScrollBar()->parentWidget()->setUpdatesEnabled(enabled);
    table->horizontalScrollBar()->parentWidget()->setUpdatesEnabled(enabled);
}

QTableWidgetItem* centredItem(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    connect(ui->pushButton, SIGNAL(clicked()), this, SLOT(on_pushButton_clicked()));
    connect(ui->SetIpButton, SIGNAL(clicked()), this, SLOT(on_SetIpButton_clicked()));
    groupSock = 0;
    device_count = 0;

    auto* header = new AiCheckBoxHeader(Qt::Horizontal, ui->tableWidget);
    connect(header, SIGNAL(signalStateTrange(bool)), this, SLOT(on_table_checkbox_all(bool)));

    QTableWidget* table = ui->tableWidget;
    table->setStyleSheet(
        "color:#000000;gridline-color:gray;background:#0;selection-background-color:lightblue;"
        "border:1px solid black;");
    table->setAttribute(Qt::WA_MouseTracking, true);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setAlternatingRowColors(true);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setHorizontalHeader(header);
    // A header view also hears of every change of a cell, and answers each by forgetting its
    // size hint, which the next layout of the table then measures again from all six titles.
    // Cells never change what the titles or the check box look like.
    disconnect(table->model(), &QAbstractItemModel::dataChanged, header, nullptr);
    table->verticalHeader()->setDefaultSectionSize(30);
    table->horizontalHeader()->setMinimumHeight(25);
    // The style's minimum (36 px here) would widen column 0 past the box it holds, and the six
    // columns would no longer fit the viewport without a horizontal scroll bar.
    table->horizontalHeader()->setMinimumSectionSize(20);
    table->setColumnWidth(5, 100);
    table->setColumnWidth(4, 300);
    table->setColumnWidth(3, 139);
    table->setColumnWidth(2, 340);
    table->setColumnWidth(1, 60);
    table->setColumnWidth(0, 20);
    new TableCopy(table); // Ctrl+C copies whole rows

    tablePaintHold = new QTimer(this);
    tablePaintHold->setSingleShot(true);
    tablePaintHold->setInterval(kTablePaintIntervalMs);
    connect(tablePaintHold, &QTimer::timeout, this, [this] {
        if (ui->tableWidget->viewport()->updatesEnabled())
            return; // no row came since the last paint
        showTally(); // held back with the rows
        setRowPaint(ui->tableWidget, true); // repaints the held rows at once
        tablePaintHold->start();
    });

    foundStatus = new QLabel(ui->statusBar);
    foundStatus->setObjectName(QStringLiteral("foundStatus"));
    setStatus = new QLabel(ui->statusBar);
    setStatus->setObjectName(QStringLiteral("setStatus"));
    setStatus->setContentsMargins(16, 0, 0, 0); // apart from what the search found
    checkStatus = new QLabel(ui->statusBar);
    checkStatus->setObjectName(QStringLiteral("checkStatus"));
    checkStatus->setContentsMargins(16, 0, 0, 0);
    portStatus = new PortNotice(ui->statusBar);
    ui->statusBar->addWidget(portStatus);
    ui->statusBar->addWidget(foundStatus);
    ui->statusBar->addWidget(setStatus, 1);
    ui->statusBar->addWidget(checkStatus);

    ui->pushButton->setStyleSheet("border:1px solid black;border-radius:5px;padding:2px 4px;");
    ui->label->setFont(QFont("Abyssinica SIL", 10, QFont::Bold, false));

    ui->StartIp->resizeedit();
    ui->EndIp->resizeedit();
    ui->NetMask->resizeedit();
    ui->Gateway->resizeedit();
    connect(ui->StartIp, SIGNAL(textchanged(const QString&)), this, SLOT(on_ipddr_changed(const QString&)));

    resize(1250, 613);
    setFixedSize(width(), height());

    openGroupSocket();
    refreshAdapters(); // before the channel opens, so that it joins on each of them
    portStatus->setReplyPortOpen(ServiceInit(0, ProgramSenderId, DiscoverCallback) == 0);
    // Beside the form, each with its button in the form's column and its shortcut.
    new ListExport(this); // Ctrl+S
    new PlanFlow(this); // Ctrl+O
}

std::vector<GroupAdapter> MainWindow::refreshAdapters(QList<SearchedAdapter>* searched)
{
    const QList<InterfaceInfo> interfaces = Ipv4Interfaces();
    const std::vector<GroupAdapter> adapters = GroupAdapters(interfaces);
    ServiceUseAdapters(adapters);
    ListenerUseAdapters(adapters);
    adapterNames.clear();
    for (const InterfaceInfo& info : interfaces)
        adapterNames.insert(info.index, info.name);
    if (searched)
        *searched = SearchedAdapters(interfaces, adapters);
    return adapters;
}

void MainWindow::showTally()
{
    // Adapters' names as the system gives them, devices' serial numbers as they came.
    SetPlainText(foundStatus, tally.foundText());
    SetPlainToolTip(foundStatus, tally.foundToolTip());
    SetPlainText(setStatus, tally.setText());
    SetPlainToolTip(setStatus, tally.setToolTip());
}

QWidget* MainWindow::formColumn() const
{
    return ui->centralWidget;
}

int MainWindow::rowAdapter(int row) const
{
    const QTableWidgetItem* ordinal = ui->tableWidget->item(row, kOrdinalColumn);
    return ordinal ? ordinal->data(kAdapterRole).toInt() : 0;
}

MainWindow::~MainWindow()
{
    cancelAddressCheck();
    delete ui;
}

// The check must not outlive the window, nor end in a notice once it is gone.
void MainWindow::closeEvent(QCloseEvent* event)
{
    cancelAddressCheck();
    QMainWindow::closeEvent(event);
}

void MainWindow::openGroupSocket()
{
    if (!net::startup())
        return;
    groupSock = net::udpSocket();
    if (!net::isValid(groupSock)) {
        DiagPrintf("socket creating error\n");
        exit(-1);
    }
    memset(&g_probeDestination, 0, sizeof(g_probeDestination));
    g_probeDestination.sin_family = AF_INET;
    g_probeDestination.sin_port = htons(kProbePort);
    if (inet_pton(AF_INET, kGroupAddress, &g_probeDestination.sin_addr) != 1) {
        DiagPrintf("wrong group address!\n");
        exit(-1);
    }
}

// The first row after a quiet spell is painted at once; rows that follow within the
// interval wait for its end and are painted together.
void MainWindow::holdTablePaint()
{
    if (tablePaintHold->isActive())
        setRowPaint(ui->tableWidget, false);
    else
        tablePaintHold->start();
}

void MainWindow::slo_getdevice(char* payload, unsigned char kind, unsigned int)
{
    const std::optional<DeviceFields> device = ReadDevicePayload(payload, kind);
    if (!device)
        return;
    QTableWidget* table = ui->tableWidget;
    holdTablePaint();
    table->insertRow(device_count);
    if (device->configurable) {
        auto* box = new QTableWidgetItem();
        box->setCheckState(Qt::Unchecked);
        table->setItem(device_count, 0, box);
    }
    QTableWidgetItem* ordinal = centredItem(QString::number(device_count + 1));
    const int heardOn = kind == 0 ? AnnounceInterfaceOf(payload) : ReplyInterfaceOf(payload);
    int adapter = heardOn;
    if (device->sn && !device->sn->isEmpty()) {
        if (adapter != 0 && !serialAdapter.contains(*device->sn))
            serialAdapter.insert(*device->sn, adapter);
        adapter = serialAdapter.value(*device->sn, adapter);
    }
    ordinal->setData(kAdapterRole, adapter);
    // The source's port is not kept by the channel: "from" stays empty.
    listed.append(
        { { *device, QString(), adapterNames.value(heardOn), searchClock.elapsed() }, adapter, heardOn });
    table->setItem(device_count, kOrdinalColumn, ordinal);
    if (device->name)
        table->setItem(device_count, 2, new QTableWidgetItem(*device->name));
    if (device->ip)
        table->setItem(device_count, 3, new QTableWidgetItem(*device->ip));
    if (device->sn)
        table->setItem(device_count, 4, new QTableWidgetItem(*device->sn));
    if (device->id) {
        // A reply's code is centred, an announcement's is not.
        table->setItem(device_count, 5,
            device->kind == AnswerKind::Reply ? centredItem(*device->id) : new QTableWidgetItem(*device->id));
    }
    ++device_count;
    tally.addDevice(*device);
    if (table->viewport()->updatesEnabled())
        showTally(); // else when the held rows are painted
}

void MainWindow::on_pushButton_clicked()
{
    ui->tableWidget->setRowCount(0);
    ui->tableWidget->clearContents();
    device_count = 0;
    serialAdapter.clear();
    listed.clear();
    searchClock.start();
    // Adapters come and go (a cable, a VPN): each search takes them as they are now.
    QList<SearchedAdapter> searched;
    const std::vector<GroupAdapter> adapters = refreshAdapters(&searched);
    tally.startSearch(searched);
    showTally();
    ServiceSearch(groupSock, g_probeDestination, adapters);
}

void MainWindow::on_table_checkbox_all(bool checked)
{
    const int rows = ui->tableWidget->rowCount();
    for (int row = 0; row < rows; ++row) {
        if (QTableWidgetItem* box = ui->tableWidget->item(row, 0))
            box->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
}
