// Whether the test runs where nothing it sends can reach a real network.
#pragma once

#include <QString>
#include <QStringList>

#ifdef _WIN32
#include <QNetworkInterface>
#else
#include <QRegularExpression>

#include <net/if.h>
#endif

// True when the only interfaces are loopback and the veth pairs of tests/netns/isolated,
// i.e. nothing sent here can reach a real network.
#ifdef _WIN32
// Under Wine the adapters have Windows names: known by their addresses instead.
inline bool InsidePrivateNetwork(QString* why)
{
    QStringList foreign;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            const QString ip = entry.ip().toString();
            if (!entry.ip().isLoopback() && !ip.startsWith("10.77.0.") && !ip.startsWith("10.78.0.")
                && entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                foreign << iface.humanReadableName() + " " + ip;
        }
    }
    if (!foreign.isEmpty()) {
        *why = QStringLiteral("not inside a private network namespace (%1); run through tests/wine/suite")
                   .arg(foreign.join(QLatin1String(", ")));
        return false;
    }
    return true;
}
#else
inline bool InsidePrivateNetwork(QString* why)
{
    struct if_nameindex* names = if_nameindex();
    if (!names) {
        *why = QStringLiteral("cannot list the network interfaces");
        return false;
    }
    QStringList foreign;
    for (struct if_nameindex* n = names; n->if_index != 0; ++n) {
        const QString name = QString::fromLocal8Bit(n->if_name);
        if (name != QLatin1String("lo") && !QRegularExpression("^veth[0-3]$").match(name).hasMatch())
            foreign << name;
    }
    if_freenameindex(names);
    if (!foreign.isEmpty()) {
        *why = QStringLiteral("not inside a private network namespace (interfaces %1); run through "
                              "tests/netns/isolated")
                   .arg(foreign.join(QLatin1String(", ")));
        return false;
    }
    return true;
}
#endif

// Stops the test program before the window opens its sockets, when it was started by hand
// outside the private network: the window joins the group as it is built.
struct RefuseOutsidePrivateNetwork {
    RefuseOutsidePrivateNetwork()
    {
        QString why;
        if (!InsidePrivateNetwork(&why))
            qFatal("%s", qPrintable(why));
    }
};
