// What the status line says: how many devices a search has listed and on which adapters,
// and of the devices given new settings last, how many answer at their new address.
#pragma once

#include "groupmembership.h"

#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <vector>

struct DeviceFields;
struct InterfaceInfo;

struct SearchedAdapter {
    QString name; // as the system shows it ("Ethernet", "Wi-Fi")
    QString address;
};

// The adapters a search goes out on, by name; empty when the system chooses.
QList<SearchedAdapter> SearchedAdapters(
    const QList<InterfaceInfo>& interfaces, const std::vector<GroupAdapter>& adapters);

class DeviceTally {
    // The window's context: these texts are in its catalogue beside the form's.
    Q_DECLARE_TR_FUNCTIONS(MainWindow)
public:
    // A search begins: nothing is listed yet.
    void startSearch(const QList<SearchedAdapter>& adapters);
    // A row was listed. A device that answers twice (an announcement and a reply, or on two
    // adapters) is counted once, by its serial number.
    void addDevice(const DeviceFields& device);
    // Commands went out: how many, and per serial number the address it gave. A row without
    // a serial number is sent to but cannot be followed. Replaces the last set.
    void settingsSent(const QHash<QString, QString>& addressBySerial, int commandsSent);

    int devicesFound() const;
    // Of the devices set last, those listed at their new address since the search began.
    int atNewAddress() const;

    QString foundText() const;
    QString foundToolTip() const;
    QString setText() const;
    QString setToolTip() const;

    // What the window cannot hear because a port could not be opened (another program
    // holds it); empty when both are open.
    static QString portsText(bool replyPortOpen, bool announcePortOpen);

private:
    bool searched = false;
    QList<SearchedAdapter> adapters;
    QSet<QString> serials;
    int withoutSerial = 0; // rows that name no serial number, each its own device

    bool sent = false;
    bool searchedSinceSent = false;
    int commands = 0;
    QHash<QString, QString> sentAddress;
    QSet<QString> answeredAtNewAddress;
};
