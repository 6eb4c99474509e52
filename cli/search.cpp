#include "search.h"

#include "deviceframe.h"
#include "netcompat.h"
#include "protocol.h"
#include "udpstats.h"

#include <QNetworkDatagram>
#include <QThread>

namespace {
const QHostAddress kGroup(QString::fromLatin1(kGroupAddress));

// At the end: the reading keeps pace all along, so what waits then came in the last
// moments; more than this is a flood, which must not hold the end back.
constexpr int kDatagramsAtEnd = 4096;

// Qt names an adapter by its first address, which another adapter may hold too: these go
// by the interface index, on the socket's own descriptor.
net::Socket descriptor(const QUdpSocket& socket)
{
    return static_cast<net::Socket>(socket.socketDescriptor());
}
// The adapter's first IPv4 address as it is now, for where its index is refused (Wine) and
// the address it had when the search began may have gone.
uint32_t currentAddress(int index)
{
    for (const QNetworkAddressEntry& e : QNetworkInterface::interfaceFromIndex(index).addressEntries()) {
        if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
            return htonl(e.ip().toIPv4Address());
    }
    return htonl(INADDR_ANY);
}
bool joinOn(const QUdpSocket& socket, const InterfaceInfo& info)
{
    const uint32_t group = inet_addr(kGroupAddress);
    return net::joinGroup(descriptor(socket), group, info.index, htonl(info.address.toIPv4Address()))
        || net::joinGroup(descriptor(socket), group, info.index, currentAddress(info.index));
}
bool sendBy(const QUdpSocket& socket, const InterfaceInfo& info)
{
    return net::setMulticastInterface(descriptor(socket), info.index, htonl(info.address.toIPv4Address()))
        || net::setMulticastInterface(descriptor(socket), info.index, currentAddress(info.index));
}
// With the number: a system without the message's text (Wine) still says which.
QString lastSocketError()
{
    const int error = net::lastError();
    return QStringLiteral("%1 (%2)").arg(qt_error_string(error)).arg(error);
}
}

DeviceSearch::DeviceSearch(
    const SearchOptions& options, std::function<void(const QString&)> log, bool verbose, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_log(std::move(log))
    , m_verbose(verbose)
{
    for (const InterfaceInfo& info : m_options.interfaces)
        m_names.insert(info.index, info.name);
    connect(&m_replySocket, &QUdpSocket::readyRead, this, [this] { readPending(&m_replySocket, true); });
    connect(
        &m_announceSocket, &QUdpSocket::readyRead, this, [this] { readPending(&m_announceSocket, false); });
    connect(&m_probeTimer, &QTimer::timeout, this, &DeviceSearch::sendProbes);
    m_endTimer.setSingleShot(true);
    // Never early: a search lasts at least what was asked.
    m_endTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_endTimer, &QTimer::timeout, this, &DeviceSearch::finish);
}

bool DeviceSearch::open(QString* error)
{
    // SO_REUSEADDR, as the window's command socket has it, so both can run at once.
    if (!m_replySocket.bind(QHostAddress::AnyIPv4, kReplyPort, QUdpSocket::ReuseAddressHint)) {
        *error = QStringLiteral("cannot open the reply socket on UDP %1: %2")
                     .arg(kReplyPort)
                     .arg(m_replySocket.errorString());
        return false;
    }
    // Without SO_REUSEADDR, as the window's listener takes it: only one of the two hears.
    m_stats.announcementsHeard
        = m_announceSocket.bind(QHostAddress::AnyIPv4, kAnnouncePort, QUdpSocket::DontShareAddress);
    if (!m_stats.announcementsHeard)
        m_log(QStringLiteral("port %1 is in use (is devicesearch running?): announcements will not be heard")
                  .arg(kAnnouncePort));
    if (!m_probeSocket.bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
        *error = QStringLiteral("cannot open a socket to send from: %1").arg(m_probeSocket.errorString());
        return false;
    }
    for (QUdpSocket* socket : { &m_replySocket, &m_announceSocket }) {
        if (socket->state() == QAbstractSocket::BoundState)
            socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, net::kReceiveBufferBytes);
    }
    m_stats.replyBuffer = net::receiveBufferSize(static_cast<net::Socket>(m_replySocket.socketDescriptor()));

    int joined = 0;
    for (const InterfaceInfo& info : m_options.interfaces) {
        if (joinOn(m_replySocket, info))
            ++joined;
        else
            m_log(QStringLiteral("cannot join %1 on %2: %3")
                      .arg(QLatin1String(kGroupAddress), info.name, lastSocketError()));
        if (m_stats.announcementsHeard && !joinOn(m_announceSocket, info))
            m_log(QStringLiteral("cannot join %1 for announcements on %2: %3")
                      .arg(QLatin1String(kGroupAddress), info.name, lastSocketError()));
    }
    if (joined == 0) {
        *error = QStringLiteral("cannot join %1 on any chosen interface").arg(QLatin1String(kGroupAddress));
        return false;
    }
    return true;
}

void DeviceSearch::start()
{
    m_clock.start();
    m_probesSent = 0;
    sendProbes();
    if (m_options.probes > 1) {
        m_probeTimer.setInterval(int(m_options.waitSeconds * 1000 / m_options.probes));
        m_probeTimer.start();
    }
    m_endTimer.start(int(m_options.waitSeconds * 1000));
}

void DeviceSearch::searchAgain(double waitSeconds, int probes)
{
    m_options.waitSeconds = waitSeconds;
    m_options.probes = probes;
    start();
}

void DeviceSearch::stop()
{
    if (m_endTimer.isActive())
        finish();
}

bool DeviceSearch::sendCommand(const QString& interfaceName, const QByteArray& frame, QString* error)
{
    bool sent = true;
    for (const InterfaceInfo& info : m_options.interfaces) {
        if (!interfaceName.isEmpty() && info.name != interfaceName)
            continue;
        if (!sendBy(m_replySocket, info)) {
            *error = QStringLiteral("on %1: %2").arg(info.name, lastSocketError());
            sent = false;
            continue;
        }
        // Back to back, a send can find the socket's buffer full for a moment; an interface
        // that failed for good once gets no more patience.
        QElapsedTimer patience;
        patience.start();
        const qint64 limitMs = m_failing.contains(info.name) ? 0 : 500;
        while (m_replySocket.writeDatagram(frame, kGroup, kCommandPort) != frame.size()) {
            if (m_replySocket.error() == QAbstractSocket::DatagramTooLargeError
                || patience.elapsed() >= limitMs) {
                *error = QStringLiteral("on %1: %2").arg(info.name, m_replySocket.errorString());
                m_failing.insert(info.name);
                sent = false;
                break;
            }
            QThread::usleep(1000);
        }
    }
    return sent;
}

void DeviceSearch::sendProbes()
{
    if (m_probesSent >= m_options.probes) {
        m_probeTimer.stop();
        return;
    }
    ++m_probesSent;
    unsigned char discovery[kFrameBufferSize];
    const int length = BuildDeviceFrame(discovery, kDiscoveryCommand, ProgramSenderId, nullptr);
    for (const InterfaceInfo& info : m_options.interfaces) {
        // The window's order: the announcement query, then the discovery request from the
        // reply port.
        const bool probed = sendBy(m_probeSocket, info)
            && m_probeSocket.writeDatagram(
                   reinterpret_cast<const char*>(SearchProbe), sizeof(SearchProbe), kGroup, kProbePort)
                == qint64(sizeof(SearchProbe));
        const bool asked = sendBy(m_replySocket, info)
            && m_replySocket.writeDatagram(
                   reinterpret_cast<const char*>(discovery), length, kGroup, kCommandPort)
                == length;
        if (!probed || !asked)
            m_log(QStringLiteral("cannot send the search on %1: %2")
                      .arg(info.name, (probed ? m_replySocket : m_probeSocket).errorString()));
    }
    if (m_probesSent >= m_options.probes)
        m_probeTimer.stop();
}

void DeviceSearch::readPending(QUdpSocket* socket, bool replies, int limit)
{
    for (int n = 0; n < limit && socket->hasPendingDatagrams(); ++n) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        const QByteArray data = datagram.data();
        const QString from
            = QStringLiteral("%1:%2").arg(datagram.senderAddress().toString()).arg(datagram.senderPort());
        const uint index = datagram.interfaceIndex();
        // Another program's membership can bring in the group's traffic on other interfaces.
        if (index && !m_names.contains(int(index)))
            continue;
        const QString iface = m_names.value(int(index));
        const Answer answer = replies ? ReadReplyDatagram(data.constData(), data.size())
                                      : ReadAnnounceDatagram(data.constData(), data.size());
        if (answer.outcome != AnswerOutcome::Accepted) {
            if (m_verbose)
                m_log(QStringLiteral("%1 of %2 bytes from %3 on %4: %5")
                          .arg(replies ? "reply" : "announcement")
                          .arg(data.size())
                          .arg(from, iface.isEmpty() ? QStringLiteral("?") : iface,
                              AnswerOutcomeText(answer.outcome)));
            continue;
        }
        ++(replies ? m_stats.replies : m_stats.announcements);
        emit answered({ answer.device, from, iface, m_clock.elapsed() });
    }
    // Windows delivers a timer's message only when no other waits, so a flood would hold
    // back the end for as long as it lasts: the clock decides as well.
    if (m_endTimer.isActive() && m_clock.elapsed() >= m_endTimer.interval()) {
        finish();
        return;
    }
    if (socket->hasPendingDatagrams())
        readLater(socket, replies);
}

// The rest after the event loop's other work; once per socket, however often asked.
void DeviceSearch::readLater(QUdpSocket* socket, bool replies)
{
    bool& queued = replies ? m_replyReadQueued : m_announceReadQueued;
    if (queued)
        return;
    queued = true;
    QMetaObject::invokeMethod(
        this,
        [this, socket, replies] {
            (replies ? m_replyReadQueued : m_announceReadQueued) = false;
            readPending(socket, replies);
        },
        Qt::QueuedConnection);
}

void DeviceSearch::finish()
{
    m_probeTimer.stop();
    m_endTimer.stop();
    readPending(&m_replySocket, true, kDatagramsAtEnd);
    if (m_stats.announcementsHeard)
        readPending(&m_announceSocket, false, kDatagramsAtEnd);
    readDrops();
    emit finished();
}

long long DeviceSearch::readDrops()
{
    const long long replyDrops = OwnUdpDropsOnPort(kReplyPort);
    const long long announceDrops = m_stats.announcementsHeard ? OwnUdpDropsOnPort(kAnnouncePort) : 0;
    m_stats.drops = replyDrops < 0 || announceDrops < 0 ? -1 : replyDrops + announceDrops;
    return m_stats.drops;
}
