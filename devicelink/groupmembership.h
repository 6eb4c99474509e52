// The window's memberships of the group, one per adapter, on a receive socket that stays
// open while adapters come and go. Plain C++ and the platform header only.
#pragma once

#include "netcompat.h"

#include <cstdint>
#include <mutex>
#include <vector>

// One adapter as a socket sees it: a membership and a send.
struct GroupAdapter {
    int index = 0; // 0: the system's choice (the socket's default membership, the routed send)
    // Network order; INADDR_ANY for the system's choice. Only where the index is refused
    // (Wine) does the address name the adapter.
    uint32_t address = 0;
};

// What to join and what to drop so that the memberships held become the wanted ones.
// Adapters are told apart by index: one whose address changed keeps its membership.
struct MembershipChanges {
    std::vector<GroupAdapter> join;
    std::vector<GroupAdapter> drop;
};
MembershipChanges CompareMemberships(
    const std::vector<GroupAdapter>& held, const std::vector<GroupAdapter>& wanted);

// The adapters a device's command leaves by: the one it answered on (interface index),
// or every adapter where that is unknown or has gone.
std::vector<GroupAdapter> CommandAdapters(int answeredOn, const std::vector<GroupAdapter>& adapters);

// Keeps a bound socket a member of the group on exactly the adapters it is told, from
// whichever thread tells it.
class GroupMemberships {
public:
    // Called for every join that fails, with the socket; last error says why.
    using JoinFailed = void (*)(net::Socket);

    explicit GroupMemberships(JoinFailed onFailure);

    // The adapters wanted from now on; the socket, when attached, joins and drops at once.
    void use(const std::vector<GroupAdapter>& adapters);
    // Takes a bound socket and joins on every adapter wanted; the adapter of index 0 joins
    // on fallbackInterface (network order). Returns how many joins held.
    int attach(net::Socket s, uint32_t fallbackInterface);
    // Before the socket closes.
    void detach();
    std::vector<GroupAdapter> held() const;

private:
    void apply();

    JoinFailed m_onFailure;
    mutable std::mutex m_mutex;
    net::Socket m_socket = net::kInvalidSocket;
    uint32_t m_fallback = 0;
    std::vector<GroupAdapter> m_wanted { GroupAdapter() };
    std::vector<GroupAdapter> m_held;
};
