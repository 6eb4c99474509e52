// The application's single window: the device table with its search, and the batch form.
#pragma once

#include "devicetally.h"
#include "entry.h"
#include "groupmembership.h"
#include "netcompat.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// What a table row was made from: the answer as the companion reports it, and the
// adapters it answered on.
struct ListedDevice {
    Entry entry;
    int adapter = 0; // where its commands leave: the first its serial number was heard on
    int heardOn = 0; // where this answer came in; 0 when not known
};

// One device's new settings, as texts for its command.
struct RowSettings {
    int row = 0;
    QString serial;
    int adapter = 0; // where the command leaves
    QString ip;
    QString mask;
    QString gateway;
};

class AddressCheckThread;
class PortNotice;
class QLabel;
class QTimer;
struct AddressVerdict;
struct BatchCheck;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Dotted text to an address number, first octet in the top byte; 0 unless four parts.
    static int ipStrToInt(const QString& text);
    static QString ipIntToStr(int value);

    void openGroupSocket();
    // Where the status line names the ports that could not be opened.
    PortNotice* portNotice() const { return portStatus; }
    // Row k of the table was made from the k-th.
    const QList<ListedDevice>& listedDevices() const { return listed; }
    // Where the window's own notes go: the free space of the form's column, and the
    // status line's note of the last set.
    QWidget* formColumn() const;
    QLabel* noteLabel() const { return checkStatus; }
    // The form's mask and gateway where each is a whole address; empty otherwise.
    QString formMask() const;
    QString formGateway() const;
    // While a batch's addresses are checked the table must keep its rows: no search, no set.
    bool busy() const;
    void showBusy(bool busy, const QString& note);
    // Sends each row its set-network command by its adapter, shows the new address in the
    // rows it went out for, and counts them on the status line.
    void sendSettings(const QList<RowSettings>& rows);

signals:
    void sig_askdevice();

protected:
    void closeEvent(QCloseEvent* event) override;

public slots:
    // One device payload (the first argument) into one table row; kind (the second) 0 is
    // an announcement text, any other a JSON reply; the length is not read. The payload
    // belongs to the sender and is read during the call only. The slots' parameters carry
    // no names: the meta-object, which other code reads, lists none.
    void slo_getdevice(char*, unsigned char, unsigned int);

private slots:
    void on_pushButton_clicked();
    // Ticks (true) or unticks every row that has a check box.
    void on_table_checkbox_all(bool);
    void on_SetIpButton_clicked();
    // The start address as typed: the gateway follows it.
    void on_ipddr_changed(const QString&);

private:
    void holdTablePaint();
    // Reads the adapters again and brings both receive sockets' memberships up to date;
    // `searched` gets their names.
    std::vector<GroupAdapter> refreshAdapters(QList<SearchedAdapter>* searched = nullptr);
    void showTally();
    // The interface the row's device answered on; 0 when not known.
    int rowAdapter(int row) const;
    // The new addresses are checked on the link first; the commands follow the verdicts.
    void checkBatch(int start, int end, const QString& mask, const QString& gateway);
    void decideBatch(const std::vector<AddressVerdict>& verdicts);
    void cancelAddressCheck();
    void showChecking(bool checking);
    void assignAddresses(const BatchCheck& batch, const std::vector<std::optional<uint32_t>>& addresses,
        const QString& mask, const QString& gateway);

    Ui::MainWindow* ui = nullptr;
    int device_count = 0;
    net::Socket groupSock = 0;
    QTimer* tablePaintHold = nullptr;
    // Per serial number, the interface it was first heard on since the search began: a
    // device that answers on two adapters keeps the first for its command.
    QHash<QString, int> serialAdapter;
    QList<ListedDevice> listed;
    QHash<int, QString> adapterNames; // by index, as the last search read them
    QElapsedTimer searchClock; // an answer's ms, as the companion's counts from its probe
    // The status line: what the search found, and what the last set achieved.
    DeviceTally tally;
    QLabel* foundStatus = nullptr;
    QLabel* setStatus = nullptr;
    // While the new addresses are checked, that they are; then what the check could not tell.
    QLabel* checkStatus = nullptr;
    // A port that could not be opened, first on the line.
    PortNotice* portStatus = nullptr;

    // The batch waiting for its check; a finished check of an older one is ignored.
    std::unique_ptr<AddressCheckThread> addressCheck;
    std::unique_ptr<BatchCheck> checkedBatch;
    QString checkedMask;
    QString checkedGateway;
    int checkNumber = 0;
};
