#include "addressrules.h"

#include <QStringList>

uint32_t AddressFromText(const QString& text)
{
    // The default split keeps empty parts: 1.2..4 is four parts.
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return 0;
    // Unsigned, so that a first octet of 128 or more shifts without overflow.
    uint32_t value = 0;
    for (const QString& part : parts)
        value = (value << 8) | static_cast<uint32_t>(part.toInt(nullptr, 10));
    return value;
}

QString AddressText(uint32_t v)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(QString::number(v >> 24), QString::number((v >> 16) & 0xFF), QString::number((v >> 8) & 0xFF),
            QString::number(v & 0xFF));
}

RangeProblem CheckAddressRange(uint32_t start, uint32_t end, bool several)
{
    if (several && ((start ^ end) & 0xFFFFFF00u) != 0)
        return RangeProblem::DifferentSegment;
    if (several && start >= end)
        return RangeProblem::StartNotBelowEnd;
    // For one device end is 0, so only the start's last octet can be 255.
    if ((start & 0xFF) == 0xFF || (several && (end & 0xFF) == 0xFF))
        return RangeProblem::LastOctet255;
    return RangeProblem::None;
}

QString DefaultGateway(const QString& address)
{
    return address.left(address.lastIndexOf(QLatin1Char('.'))) + QStringLiteral(".1");
}
