// The set-network commands devsim received, for the end-to-end tests of assign.
#pragma once

#include "clirun.h"
#include "devsimprocess.h"
#include "netcompat.h"
#include "protocol.h"
#include "wireheader.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QUdpSocket>

#include <algorithm>

inline const QByteArray kSetNetworkHeader = QByteArray::fromHex("f001112233440000");

// The set-network payloads devsim reported, after a fence that every earlier datagram precedes.
// iface is the way to devsim's host.
inline QStringList commandsReceived(DevsimProcess& devsim, const QString& iface = DefaultInterface())
{
    static int fences = 0;
    QByteArray frame
        = QByteArray::fromHex("820000f003112233440000") + "fence " + QByteArray::number(++fences);
    frame[2] = char(frame.size());
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    // By index: Qt names the interface by its address, which another one may hold too.
    net::setMulticastInterface(static_cast<net::Socket>(socket.socketDescriptor()),
        QNetworkInterface::interfaceFromName(iface).index(), 0);
    socket.writeDatagram(frame, QHostAddress(QString::fromLatin1(kGroupAddress)), kCommandPort);
    const QString hex = QString::fromLatin1(frame.toHex());
    if (!devsim.waitFor([&](const DevsimProcess::Lines& lines) {
            return std::any_of(
                lines.begin(), lines.end(), [&](const QJsonObject& l) { return l.value("hex") == hex; });
        }))
        return { QStringLiteral("<fence lost>") };
    QStringList payloads;
    for (const QJsonObject& line : devsim.received()) {
        const QByteArray bytes = QByteArray::fromHex(line.value("hex").toString().toLatin1());
        if (line.value("port").toInt() == kCommandPort && line.value("cmd").toInt() == 1) {
            // Everything but the payload is the window's header: start, length, marker,
            // command 1, the program's sender id.
            const bool header = bytes.size() > kHeaderSize && bytes.at(0) == char(0x82)
                && ((uchar(bytes.at(1)) << 8) | uchar(bytes.at(2))) == bytes.size()
                && bytes.mid(3, 8) == kSetNetworkHeader;
            payloads << (header ? QString::fromUtf8(bytes.mid(kHeaderSize)) : QStringLiteral("<bad header>"));
        }
    }
    return payloads;
}
