// The one signal carrier through which the command channel's plain receive thread
// reaches the window, and the callback that feeds it.
#pragma once

#include "devicefields.h"

#include <QObject>

#include <atomic>

class CustomSignal : public QObject {
    Q_OBJECT
public:
    explicit CustomSignal(QObject* parent = nullptr);

signals:
    void sig_DiscoverDetDevice(char*, unsigned char, unsigned int);
};

// Set by the GUI thread after the command channel's receive thread has started, and read
// by that thread for every reply: atomic, so the carrier is seen whole or not at all.
extern std::atomic<CustomSignal*> g_customSignal;

int DiscoverCallback(int status, const char* head, const char* body);

// Stops further deliveries at exit and returns once no delivery is in flight, running the
// GUI thread's posted events meanwhile so that a blocked emitter can finish.
void DiscoverCallbackClose();

// The interface the reply at payload came in on: 0 when payload is not a reply the callback
// handed out, or the system did not say.
int ReplyInterfaceOf(const char* payload);

constexpr int kReplyRingSlots = 10;
constexpr int kReplyRingSlotSize = kReplyBodyLimit + 1;
