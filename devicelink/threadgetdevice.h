// Listens on the announcement port for device announcements and hands each accepted one to the window.
#pragma once

#include <QThread>

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
