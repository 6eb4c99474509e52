// Which network adapters a search uses, for both programs: the rule, the window's list of
// adapters to join and send on, and which of them a device's command leaves by.
#pragma once

#include "groupmembership.h"

#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QSet>
#include <QString>
#include <vector>

struct InterfaceInfo {
    QString name; // what users see and type: on Windows the friendly name ("Ethernet 2")
    QString systemName; // the system's own name, accepted too ("ethernet_32769")
    int index = 0;
    QHostAddress address; // the first IPv4 address
    int prefix = 0;
    bool up = false;
    bool multicast = false;
    bool loopback = false;
    bool pointToPoint = false; // a VPN tunnel and the like: searched only when named
    // The same for the tunnels that Windows reports as Ethernet (TAP, Wintun and others),
    // where Qt marks only PPP point-to-point.
    bool tunnel = false;
    bool byDefault = false; // searched on when no adapter is named
    QNetworkInterface iface;
};

// Every interface with an IPv4 address, once per interface, as the system lists them now,
// with byDefault set by MarkDefaultInterfaces.
QList<InterfaceInfo> Ipv4Interfaces();

// The rule: up and running, able to multicast, neither point-to-point nor a tunnel;
// loopback only when nothing else qualifies.
void MarkDefaultInterfaces(QList<InterfaceInfo>* interfaces);

// Whether a Windows adapter, as GetAdaptersAddresses describes it, is a tunnel: a PPP or
// tunnel interface type, a tunnel type, or, for the VPN adapters that Windows lists as
// Ethernet with nothing else to tell them by, a description that names one.
bool IsTunnelAdapter(unsigned ifType, unsigned tunnelType, const QString& description);

// The IPv4 interface indexes of the system's tunnel adapters by IsTunnelAdapter; none on
// Linux, where tunnels are point-to-point.
QSet<int> TunnelAdapterIndexes();

// The adapters the window joins the group on and sends each query by: the default ones
// but loopback, once per interface. Where none is left (a machine with loopback only, or
// nothing up) it is the one adapter of index 0: the membership the system chooses, and
// the routed sends.
std::vector<GroupAdapter> GroupAdapters(const QList<InterfaceInfo>& interfaces);
