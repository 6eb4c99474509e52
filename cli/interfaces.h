// The IPv4 interfaces a search can use, and which of them it uses.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QString>
#include <QStringList>

struct InterfaceInfo {
    QString name; // what users see and type: on Windows the friendly name ("Ethernet 2")
    QString systemName; // the system's own name, accepted too ("ethernet_32769")
    int index = 0;
    QHostAddress address; // the first IPv4 address
    int prefix = 0;
    bool up = false;
    bool multicast = false;
    bool loopback = false;
    bool byDefault = false; // searched on when no --interface is given
    QNetworkInterface iface;
};

// Every interface with an IPv4 address. By default a search uses those that are up and can
// multicast, leaving loopback out unless nothing else qualifies.
QList<InterfaceInfo> Ipv4Interfaces();

// The interfaces named (each must be listed, by name or system name), or the defaults when
// names is empty.
// False with the reason in error for an unknown name, or when nothing qualifies.
bool ChooseInterfaces(
    const QList<InterfaceInfo>& all, const QStringList& names, QList<InterfaceInfo>* chosen, QString* error);

// The names users know the interfaces by, in order.
QStringList InterfaceNames(const QList<InterfaceInfo>& interfaces);

// One aligned line per interface, with a title line.
QString InterfacesText(const QList<InterfaceInfo>& all);
