// Listens on the announcement port for device announcements and hands each accepted one to
// the window. When it cannot open its port it says so through ListenerReports and ends.
#pragma once

#include "groupmembership.h"

#include <QThread>

#include <vector>

class ThreadGetDevice : public QThread {
    Q_OBJECT
public:
    ThreadGetDevice();
    ~ThreadGetDevice() override;

    // Asks run() to end and wakes its wait at once; call wait() afterwards.
    void requestStop();

signals:
    void sig_getdevice(char*, unsigned char, unsigned int);

protected:
    void run() override;
};

constexpr int kAnnounceRingSlots = 10;

// The adapters the listener's socket is a member on from now on: the ones it joins when
// it opens, and, while it is open, joined and dropped at once. Until told, the one
// adapter the system chooses.
void ListenerUseAdapters(const std::vector<GroupAdapter>& adapters);
std::vector<GroupAdapter> ListenerHeldAdapters();

// The interface the announcement at payload came in on: 0 when payload is not an
// announcement the listener handed out, or the system did not say.
int AnnounceInterfaceOf(const char* payload);
