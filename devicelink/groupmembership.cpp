#include "groupmembership.h"

#include "protocol.h"

#include <algorithm>

namespace {
bool holds(const std::vector<GroupAdapter>& list, const GroupAdapter& a)
{
    return std::any_of(list.begin(), list.end(), [&](const GroupAdapter& b) { return b.index == a.index; });
}
}

MembershipChanges CompareMemberships(
    const std::vector<GroupAdapter>& held, const std::vector<GroupAdapter>& wanted)
{
    MembershipChanges changes;
    for (const GroupAdapter& a : held) {
        if (!holds(wanted, a))
            changes.drop.push_back(a);
    }
    for (const GroupAdapter& a : wanted) {
        if (!holds(held, a) && !holds(changes.join, a))
            changes.join.push_back(a);
    }
    return changes;
}

std::vector<GroupAdapter> CommandAdapters(int answeredOn, const std::vector<GroupAdapter>& adapters)
{
    if (answeredOn > 0) {
        for (const GroupAdapter& a : adapters) {
            if (a.index == answeredOn)
                return { a };
        }
    }
    return adapters;
}

GroupMemberships::GroupMemberships(JoinFailed onFailure)
    : m_onFailure(onFailure)
{
}

void GroupMemberships::use(const std::vector<GroupAdapter>& adapters)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wanted = adapters;
    apply();
}

int GroupMemberships::attach(net::Socket s, uint32_t fallbackInterface)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_socket = s;
    m_fallback = fallbackInterface;
    m_held.clear();
    apply();
    return static_cast<int>(m_held.size());
}

void GroupMemberships::detach()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_socket = net::kInvalidSocket;
    m_held.clear();
}

std::vector<GroupAdapter> GroupMemberships::held() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_held;
}

void GroupMemberships::apply()
{
    if (!net::isValid(m_socket))
        return;
    const uint32_t group = inet_addr(kGroupAddress);
    const MembershipChanges changes = CompareMemberships(m_held, m_wanted);
    for (const GroupAdapter& a : changes.drop) {
        // An adapter that went away took its membership with it; this drop may then fail.
        net::leaveGroup(m_socket, group, a.index, a.index == 0 ? m_fallback : a.address);
        m_held.erase(std::remove_if(m_held.begin(), m_held.end(),
                         [&](const GroupAdapter& h) { return h.index == a.index; }),
            m_held.end());
    }
    for (const GroupAdapter& a : changes.join) {
        // A failure is that adapter's alone: the others join, and the next use tries it again.
        if (net::joinGroup(m_socket, group, a.index, a.index == 0 ? m_fallback : a.address))
            m_held.push_back(a);
        else if (m_onFailure)
            m_onFailure(m_socket);
    }
}
