// Dotted IPv4 text to and from an address number with the first octet in the top byte.
#include "addressrules.h"
#include "mainwindow.h"

int MainWindow::ipStrToInt(const QString& text)
{
    return static_cast<int>(AddressFromText(text));
}

QString MainWindow::ipIntToStr(int value)
{
    return AddressText(static_cast<uint32_t>(value));
}
