// The batch form: the checks on the set button, the per-device assignment loop, and
// the gateway that follows the start address.
#include "adapters.h"
#include "addressrules.h"
#include "mainwindow.h"
#include "myipaddredit.h"
#include "netsetjson.h"
#include "service.h"
#include "ui_mainwindow.h"

#include <QByteArray>
#include <QMessageBox>
#include <QTableWidget>
#include <QTableWidgetItem>

#include <cstdint>
#include <cstdio>

namespace {
constexpr int kIpColumn = 3;
constexpr int kSerialColumn = 4;

bool isTicked(const QTableWidget* table, int row)
{
    const QTableWidgetItem* box = table->item(row, 0);
    return box && box->checkState() == Qt::Checked;
}

// Sends one set-network command by each of the adapters; true when it went out by one.
bool sendNetSet(const QByteArray& serial, const QByteArray& ip, const QByteArray& mask,
    const QByteArray& gateway, const std::vector<GroupAdapter>& adapters)
{
    const QByteArray text = BatchNetSetJson(serial, ip, mask, gateway);
    if (text.isEmpty())
        return false;
    bool sent = false;
    for (const GroupAdapter& adapter : adapters)
        sent = ServiceSendCmdVia(kSetNetworkCommand, text.constData(), adapter) == 0 || sent;
    return sent;
}

}

// Gives the k-th ticked row start + k until the range runs out. end is 0 for a single row.
// Each row's command leaves by the adapter its device answered on.
void MainWindow::assignAddresses(int start, int end, const QString& mask, const QString& gateway)
{
    QTableWidget* table = ui->tableWidget;
    const int rowCount = table->rowCount();
    const std::vector<GroupAdapter> adapters = GroupAdapters(Ipv4Interfaces());
    const QByteArray maskUtf8 = mask.toUtf8();
    const QByteArray gatewayUtf8 = gateway.toUtf8();

    QHash<QString, QString> sentBySerial;
    int commandsSent = 0;

    // The checks keep the last octet of start and end below 255, so this never overflows.
    int current = start;
    for (int row = 0; row < rowCount; ++row) {
        if (!isTicked(table, row))
            continue;
        const QString shown = AddressText(static_cast<uint32_t>(current));
        const QByteArray ip = shown.toLatin1();
        const QTableWidgetItem* serialItem = table->item(row, kSerialColumn);
        const QByteArray serial = serialItem ? serialItem->text().toUtf8() : QByteArray();

        if (sendNetSet(serial, ip, maskUtf8, gatewayUtf8, CommandAdapters(rowAdapter(row), adapters))) {
            ++commandsSent;
            if (!serial.isEmpty())
                sentBySerial.insert(QString::fromUtf8(serial), shown);
            if (QTableWidgetItem* ipItem = table->item(row, kIpColumn))
                ipItem->setText(shown);
            else
                table->setItem(row, kIpColumn, new QTableWidgetItem(shown));
        } else {
            // The device never heard of this address, so the table must not show it;
            // the address is still used up so that later rows keep start + k.
            fprintf(stderr, "set-network command for row %d not sent\n", row);
            fflush(stderr);
        }

        ++current;
        if (current > end)
            break;
    }
    tally.settingsSent(sentBySerial, commandsSent);
    showTally();
}

void MainWindow::on_SetIpButton_clicked()
{
    QTableWidget* table = ui->tableWidget;
    const int rowCount = table->rowCount();
    int ticked = 0;
    for (int row = 0; row < rowCount; ++row) {
        if (isTicked(table, row))
            ++ticked;
    }
    const bool several = ticked >= 2;

    const auto refuse = [this](const QString& message) {
        QMessageBox::information(this, tr("提示"), message, QMessageBox::Ok);
    };

    // The order matters: each checkvalid() restyles its field's border, and the fields
    // after a failing check keep the border they had.
    if (ticked == 0)
        return refuse(tr("请先选择设备！"));
    if (!ui->StartIp->checkvalid())
        return refuse(tr("请设置起始IP！"));
    if (several && !ui->NetMask->checkvalid())
        return refuse(tr("请设置子网掩码！"));
    if (several && !ui->Gateway->checkvalid())
        return refuse(tr("请设置网关地址！"));

    const int start = ipStrToInt(ui->StartIp->text());
    const QString mask = ui->NetMask->text();
    const QString gateway = ui->Gateway->text();

    if (several && !ui->EndIp->checkvalid())
        return refuse(tr("有多个设备，请设置结束IP！"));
    const int end = several ? ipStrToInt(ui->EndIp->text()) : 0;
    switch (CheckAddressRange(static_cast<uint32_t>(start), static_cast<uint32_t>(end), several)) {
    case RangeProblem::DifferentSegment:
        return refuse(tr("起始IP和结束IP必需在同一个网段！"));
    case RangeProblem::StartNotBelowEnd:
        return refuse(tr("起始IP必需小于结束IP！"));
    case RangeProblem::LastOctet255:
        return refuse(tr("IP地址最后一位不能为255！"));
    case RangeProblem::None:
        break;
    }

    assignAddresses(start, end, mask, gateway);
}

void MainWindow::on_ipddr_changed(const QString& text)
{
    ui->Gateway->settext(DefaultGateway(text));
}
