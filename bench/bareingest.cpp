#include "ingestcommon.h"

#include "benchprobes.h"
#include "deviceframe.h"
#include "groupsocket.h"
#include "service.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace {

// A receiver with the program's socket options and nothing else, except that it keeps the
// default receive buffer: counts the datagrams that the program would have turned into rows.
class BareReceiver {
public:
    BareReceiver()
    {
        char localIp[32] = {};
        ServiceGetLocalIpAddress(0, localIp);
        GroupSocketOptions options;
        options.port = kReplyPort;
        options.membershipInterface = ServiceMembershipInterface(localIp);
        m_fd = OpenGroupSocket(options);
        if (!ok())
            return;
        m_inode = SocketInode(m_fd);
        m_thread = std::thread([this] { loop(); });
    }
    ~BareReceiver()
    {
        if (!ok())
            return;
        m_stopping.store(true);
        shutdown(m_fd, SHUT_RDWR); // wakes the blocked receive
        m_thread.join();
        close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    int rows() const { return m_rows.load(); }
    long long lastRowNs() const { return m_lastRowNs.load(); }
    long long drops() const { return UdpDropsOfInode(m_inode); }

private:
    void loop()
    {
        unsigned char buf[kFrameBufferSize + 1];
        for (;;) {
            const ssize_t n = recv(m_fd, buf, sizeof(buf), 0);
            if (m_stopping.load())
                return;
            if (n < 0 || n > kFrameBufferSize)
                continue;
            const char* head = nullptr;
            const char* body = nullptr;
            if (ReadReply(buf, static_cast<int>(n), &head, &body) == ReplyOutcome::Accepted
                && strchr(body, '{')) {
                m_lastRowNs.store(MonotonicNs());
                m_rows.fetch_add(1);
            }
        }
    }

    int m_fd = -1;
    unsigned long m_inode = 0;
    std::atomic<bool> m_stopping { false };
    std::atomic<int> m_rows { 0 };
    std::atomic<long long> m_lastRowNs { 0 };
    std::thread m_thread;
};

Ingest bareRun(const Traffic& traffic)
{
    BareReceiver receiver;
    if (!receiver.ok())
        return { QStringLiteral("the bare receiver could not open port %1").arg(kReplyPort) };
    const long long drops = receiver.drops();
    long long firstNs = 0;
    Ingest result = runTraffic(
        traffic, [&] { return receiver.rows(); }, &firstNs);
    result.rows = receiver.rows();
    result.drops = receiver.drops() - drops;
    if (receiver.lastRowNs() > 0)
        result.firstToLastMs = (receiver.lastRowNs() - firstNs) / 1e6;
    return result;
}

} // namespace

Ingest bareIngest(const Traffic& traffic)
{
    return medianIngest(traffic, [&] { return bareRun(traffic); });
}
