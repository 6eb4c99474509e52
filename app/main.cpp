#include "customsignal.h"
#include "devicewiring.h"
#include "mainwindow.h"
#include "threadgetdevice.h"
#include "windowlanguage.h"

#include <QApplication>
#include <QFont>
#include <QTextCodec>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    InstallWindowLanguage(&app); // the window's texts are translated as it is built
    MainWindow window;
    ThreadGetDevice listener;
    g_customSignal = new CustomSignal;

    QApplication::setFont(QFont("Microsoft Yahei", 9, -1, false));
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("utf-8"));
    ConnectDeviceSources(listener, window);

    window.show();
    listener.start(QThread::InheritPriority);
    const int result = app.exec();

    // The listener and the window go in that order, each only once nothing uses it.
    StopDeviceSources(listener);
    return result;
}
