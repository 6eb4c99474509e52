#include "devicewiring.h"

#include "customsignal.h"
#include "mainwindow.h"
#include "threadgetdevice.h"

#include <QCoreApplication>

void ConnectDeviceSources(ThreadGetDevice& listener, MainWindow& window)
{
    QObject::connect(&listener, SIGNAL(sig_getdevice(char*, unsigned char, unsigned int)), &window,
        SLOT(slo_getdevice(char*, unsigned char, unsigned int)), Qt::BlockingQueuedConnection);
    QObject::connect(g_customSignal, SIGNAL(sig_DiscoverDetDevice(char*, unsigned char, unsigned int)),
        &window, SLOT(slo_getdevice(char*, unsigned char, unsigned int)), Qt::BlockingQueuedConnection);
    QObject::connect(&listener, &ThreadGetDevice::cannotListen, &window, &MainWindow::announcePortUnavailable,
        Qt::QueuedConnection);
}

void StopDeviceSources(ThreadGetDevice& listener)
{
    DiscoverCallbackClose();
    listener.requestStop();
    while (!listener.wait(10))
        QCoreApplication::processEvents();
}
