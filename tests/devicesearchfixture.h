// The program's pieces as the entry point wires them, for end-to-end tests that talk to
// devsim over real sockets: the window, the listener and the signal carrier.
#pragma once

#include "customsignal.h"
#include "devicewiring.h"
#include "mainwindow.h"
#include "service.h"
#include "threadgetdevice.h"
#include "udptestsocket.h"

#include <QtTest>
#include <QtWidgets>

class DeviceSearchFixture {
public:
    DeviceSearchFixture()
    {
        if (!g_customSignal)
            g_customSignal = new CustomSignal;
        ConnectDeviceSources(listener, window);
        window.show();
        listener.start();
        table = window.findChild<QTableWidget*>("tableWidget");
        // Ready once the listener holds the announcement port.
        if (!QTest::qWaitFor([] { return PortHeldHere(kAnnouncePort); }, 10000))
            qWarning("the listener did not take the announcement port");
    }
    ~DeviceSearchFixture() { StopDeviceSources(listener); }

    void search() { QTest::mouseClick(window.findChild<QPushButton*>("pushButton"), Qt::LeftButton); }

    QString cell(int row, int column) const
    {
        QTableWidgetItem* item = table->item(row, column);
        return item ? item->text() : QString();
    }

    MainWindow window;
    ThreadGetDevice listener;
    QTableWidget* table = nullptr;
};
