// Dotted IPv4 text to and from an address number with the first octet in the top byte.
#include "mainwindow.h"

#include <QStringList>

#include <cstdint>

int MainWindow::ipStrToInt(const QString& text)
{
    // The default split keeps empty parts: 1.2..4 is four parts.
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return 0;
    // Unsigned, so that a first octet of 128 or more shifts without overflow. The octet
    // fields keep every part within 0..255, so the parts are not masked.
    uint32_t value = 0;
    for (const QString& part : parts)
        value = (value << 8) | static_cast<uint32_t>(part.toInt(nullptr, 10));
    return static_cast<int>(value);
}

QString MainWindow::ipIntToStr(int value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    return QStringLiteral("%1.%2.%3.%4")
        .arg(QString::number(v >> 24), QString::number((v >> 16) & 0xFF), QString::number((v >> 8) & 0xFF),
            QString::number(v & 0xFF));
}
