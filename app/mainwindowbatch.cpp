// The batch form: the checks on the set button, the look at the new addresses on the link,
// the per-device assignment loop, the gateway that follows the start address, and the
// window's address conversions.
#include "adapters.h"
#include "addresscheck.h"
#include "addressrules.h"
#include "mainwindow.h"
#include "myipaddredit.h"
#include "netsetjson.h"
#include "plaintext.h"
#include "service.h"
#include "takenaddresses.h"
#include "ui_mainwindow.h"

#include <QByteArray>
#include <QMessageBox>
#include <QPushButton>
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

// Sends each row of the batch the address it was given; a row given none gets nothing.
void MainWindow::assignAddresses(
    const BatchCheck& batch, const RowAddresses& addresses, const QString& mask, const QString& gateway)
{
    QList<RowSettings> rows;
    for (size_t k = 0; k < batch.rows.size() && k < addresses.size(); ++k) {
        if (addresses[k])
            rows.append({ batch.rows[k].row, batch.rows[k].serial, batch.rows[k].adapter,
                AddressText(*addresses[k]), mask, gateway });
    }
    sendSettings(rows);
}

void MainWindow::sendSettings(const QList<RowSettings>& rows)
{
    QTableWidget* table = ui->tableWidget;
    const std::vector<GroupAdapter> adapters = GroupAdapters(Ipv4Interfaces());
    QHash<QString, QString> sentBySerial;
    int commandsSent = 0;
    for (const RowSettings& settings : rows) {
        const QByteArray serial = settings.serial.toUtf8();
        if (sendNetSet(serial, settings.ip.toLatin1(), settings.mask.toUtf8(), settings.gateway.toUtf8(),
                CommandAdapters(settings.adapter, adapters))) {
            ++commandsSent;
            if (!serial.isEmpty())
                sentBySerial.insert(settings.serial, settings.ip);
            if (QTableWidgetItem* ipItem = table->item(settings.row, kIpColumn))
                ipItem->setText(settings.ip);
            else
                table->setItem(settings.row, kIpColumn, new QTableWidgetItem(settings.ip));
        } else {
            // The device never heard of this address, so the table must not show it.
            fprintf(stderr, "set-network command for row %d not sent\n", settings.row);
            fflush(stderr);
        }
    }
    tally.settingsSent(sentBySerial, commandsSent);
    showTally();
}

bool MainWindow::busy() const
{
    return !ui->pushButton->isEnabled();
}

void MainWindow::showBusy(bool busy, const QString& note)
{
    ui->SetIpButton->setEnabled(!busy);
    ui->pushButton->setEnabled(!busy);
    SetPlainText(checkStatus, note);
    SetPlainToolTip(checkStatus, QString());
}

namespace {
// An empty field reads as 0.0.0.0, which no mask or gateway is.
QString filled(MyIpAddrEdit* field)
{
    uint32_t address = 0;
    return DottedAddressProblem(field->text(), &address).isEmpty() && address != 0 ? field->text()
                                                                                   : QString();
}
}

QString MainWindow::formMask() const
{
    return filled(ui->NetMask);
}

QString MainWindow::formGateway() const
{
    return filled(ui->Gateway);
}

// The table is what the batch refers to by row, so the search waits for the check too.
void MainWindow::showChecking(bool checking)
{
    showBusy(checking,
        checking && checkedBatch ? CheckingText(int(checkedBatch->input.queries.size())) : QString());
}

void MainWindow::cancelAddressCheck()
{
    if (!addressCheck)
        return;
    ++checkNumber; // its finished() may be queued already
    addressCheck.reset(); // cancels and waits
    checkedBatch.reset();
    showChecking(false);
}

void MainWindow::checkBatch(int start, int end, const QString& mask, const QString& gateway)
{
    QTableWidget* table = ui->tableWidget;
    QList<ListedRow> listed;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem* ip = table->item(row, kIpColumn);
        const QTableWidgetItem* serial = table->item(row, kSerialColumn);
        listed.append({ ip ? ip->text() : QString(), serial ? serial->text() : QString(), rowAdapter(row),
            isTicked(table, row) });
    }
    cancelAddressCheck();
    checkedBatch = std::make_unique<BatchCheck>(
        PrepareBatchCheck(listed, uint32_t(start), uint32_t(end), ThisComputerAddresses()));
    checkedMask = mask;
    checkedGateway = gateway;
    // Where nothing needs a probe (loopback, addresses the method cannot reach), at once.
    std::unique_ptr<LinkProbe> link = SystemLinkProbe();
    if (const std::optional<std::vector<AddressVerdict>> known
        = VerdictsAtOnce(checkedBatch->input, link.get()))
        return decideBatch(*known);

    addressCheck = std::make_unique<AddressCheckThread>(checkedBatch->input, std::move(link));
    const int number = ++checkNumber;
    const auto done = [this, number] {
        if (number != checkNumber || !addressCheck)
            return;
        const std::vector<AddressVerdict> verdicts = addressCheck->verdicts();
        addressCheck.reset();
        showChecking(false);
        decideBatch(verdicts);
    };
    connect(addressCheck.get(), &QThread::finished, this, done);
    addressCheck->start();
    showChecking(true);
}

// Nothing taken: the commands go out as planned. Taken: the person chooses to skip those
// addresses, to set them anyway, or to send nothing.
void MainWindow::decideBatch(const std::vector<AddressVerdict>& found)
{
    const std::unique_ptr<BatchCheck> batch = std::move(checkedBatch);
    const QString mask = checkedMask;
    const QString gateway = checkedGateway;
    const BatchVerdicts verdicts(batch->input, found);
    SetPlainText(checkStatus, QString()); // the last set's note
    SetPlainToolTip(checkStatus, QString());
    RowAddresses given = PlannedAddresses(*batch);
    const QString notice = TakenNotice(*batch, given, verdicts);
    if (!notice.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, tr("提示"), QString(), QMessageBox::NoButton, this);
        SetPlainText(&box, notice); // it names devices' serial numbers
        box.setInformativeText(tr("跳过已占用的地址：各设备依次使用范围内未被占用的地址。"));
        QPushButton* skip = box.addButton(tr("跳过已占用的地址"), QMessageBox::AcceptRole);
        QPushButton* anyway = box.addButton(tr("仍然设置"), QMessageBox::DestructiveRole);
        QPushButton* cancel = box.addButton(tr("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(skip);
        box.setEscapeButton(cancel);
        box.exec();
        if (box.clickedButton() == skip) {
            given = SkippingTaken(*batch, verdicts);
        } else if (box.clickedButton() != anyway) {
            return;
        }
    }
    assignAddresses(*batch, given, mask, gateway);
    const StatusNote note = AssignmentNote(*batch, given, verdicts);
    SetPlainText(checkStatus, note.text);
    SetPlainToolTip(checkStatus, note.toolTip);
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

    checkBatch(start, end, mask, gateway);
}

void MainWindow::on_ipddr_changed(const QString& text)
{
    ui->Gateway->settext(DefaultGateway(text));
}

int MainWindow::ipStrToInt(const QString& text)
{
    return static_cast<int>(AddressFromText(text));
}

QString MainWindow::ipIntToStr(int value)
{
    return AddressText(static_cast<uint32_t>(value));
}
