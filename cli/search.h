// One search on several interfaces: the window's two datagrams sent on each, every answer
// read as the window reads it, for a fixed time.
#pragma once

#include "entry.h"
#include "interfaces.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

#include <functional>

struct SearchOptions {
    double waitSeconds = 2;
    int probes = 1; // each probe is the pair of datagrams on every interface
    QList<InterfaceInfo> interfaces;
};

struct SearchStats {
    int replies = 0;
    int announcements = 0;
    bool announcementsHeard = false; // the announcement port could be bound
    long long drops = -1; // the kernel's count for both sockets; -1 unknown
    int replyBuffer = -1; // bytes, as the system reports them
};

class DeviceSearch : public QObject {
    Q_OBJECT
public:
    // Datagrams read per turn of the event loop, so that a flood cannot starve the timers.
    static constexpr int kDatagramsPerTurn = 256;

    // log receives warnings; verbose also the datagrams that made no entry.
    DeviceSearch(const SearchOptions& options, std::function<void(const QString&)> log, bool verbose,
        QObject* parent = nullptr);

    // Binds both ports and joins the group on every interface. False, with the reason, when
    // no reply could be heard.
    bool open(QString* error);
    // Sends the first probe now and the others spread over the wait; finished() at its end.
    void start();
    // Another search on the same sockets, once finished() came: the answers keep coming
    // through answered().
    void searchAgain(double waitSeconds, int probes);
    // Ends the search now, with finished().
    void stop();
    // Sends a DeviceFrame to the devices' port from the reply socket, as the window sends
    // its commands, on the interface named (on every chosen one when the name is empty).
    // False with the reason when it did not go out on each.
    bool sendCommand(const QString& interfaceName, const QByteArray& frame, QString* error);
    // Reads the kernel's drop count for both sockets now into stats().drops, and returns it.
    long long readDrops();
    const SearchStats& stats() const { return m_stats; }

signals:
    void answered(const Entry& entry);
    void finished();

private:
    void sendProbes();
    // Reads at most limit datagrams, then hands back to the event loop and reads the rest
    // from there.
    void readPending(QUdpSocket* socket, bool replies, int limit = kDatagramsPerTurn);
    void readLater(QUdpSocket* socket, bool replies);
    void finish();

    SearchOptions m_options;
    std::function<void(const QString&)> m_log;
    bool m_verbose = false;
    QUdpSocket m_replySocket;
    QUdpSocket m_announceSocket;
    QUdpSocket m_probeSocket;
    QHash<int, QString> m_names; // the chosen interfaces' names by index
    QSet<QString> m_failing; // interfaces where a command could not be sent
    QElapsedTimer m_clock;
    QTimer m_probeTimer;
    QTimer m_endTimer;
    int m_probesSent = 0;
    SearchStats m_stats;
    bool m_replyReadQueued = false;
    bool m_announceReadQueued = false;
};
