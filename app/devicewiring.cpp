#include "devicewiring.h"

#include "customsignal.h"
#include "listenerreports.h"
#include "mainwindow.h"
#include "portnotice.h"
#include "threadgetdevice.h"

#include <QCoreApplication>

void ConnectDeviceSources(ThreadGetDevice& listener, MainWindow& window)
{
    QObject::connect(&listener, SIGNAL(sig_getdevice(char*, unsigned char, unsigned int)), &window,
        SLOT(slo_getdevice(char*, unsigned char, unsigned int)), Qt::BlockingQueuedConnection);
    QObject::connect(g_customSignal, SIGNAL(sig_DiscoverDetDevice(char*, unsigned char, unsigned int)),
        &window, SLOT(slo_getdevice(char*, unsigned char, unsigned int)), Qt::BlockingQueuedConnection);
    // Queued: the report comes from the listener thread. The notice, as the receiver, takes
    // the connection with it when the window goes.
    QObject::connect(ListenerReports::instance(), &ListenerReports::cannotListen, window.portNotice(),
        &PortNotice::announcePortUnavailable, Qt::QueuedConnection);
}

void StopDeviceSources(ThreadGetDevice& listener)
{
    DiscoverCallbackClose();
    listener.requestStop();
    while (!listener.wait(10))
        QCoreApplication::processEvents();
}
