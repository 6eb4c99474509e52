// The one signal carrier through which the command channel's plain receive thread
// reaches the window, and the callback that feeds it.
#pragma once

#include <QObject>

class CustomSignal : public QObject {
    Q_OBJECT
public:
    explicit CustomSignal(QObject* parent = nullptr);

signals:
    void sig_DiscoverDetDevice(char*, unsigned char, unsigned int);
};

extern CustomSignal* g_customSignal;

int DiscoverCallback(int status, const char* head, const char* body);

// Stops further deliveries at exit and returns once no delivery is in flight, running the
// GUI thread's posted events meanwhile so that a blocked emitter can finish.
void DiscoverCallbackClose();

constexpr int kReplyRingSlots = 10;
constexpr int kReplyRingSlotSize = 512;
