// Stands in for the window's device slot: records every call with what it carried.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QThread>
#include <QVector>

class DeviceReceiver : public QObject {
    Q_OBJECT
public:
    struct Call {
        QByteArray text;
        const char* pointer;
        int kind;
        unsigned int length;
        bool onOwnThread;
    };
    QVector<Call> calls;

public slots:
    void take(char* payload, unsigned char kind, unsigned int length)
    {
        calls.append({ QByteArray(payload), payload, kind, length, QThread::currentThread() == thread() });
    }
};
