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

uint32_t DefaultGatewayAddress(uint32_t address)
{
    return (address & 0xFFFFFF00u) | 1u;
}

QString DottedAddressProblem(const QString& text, uint32_t* address)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return QStringLiteral("not four octets");
    uint32_t value = 0;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return part.isEmpty() ? QStringLiteral("an empty octet")
                                  : QStringLiteral("octet %1 is not 0 to 255").arg(part);
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return QStringLiteral("octet %1 is not a decimal number").arg(part);
        }
        if (part.size() > 1 && part.at(0) == QLatin1Char('0'))
            return QStringLiteral("octet %1 has a leading zero").arg(part);
        const uint octet = part.toUInt();
        if (octet > 255)
            return QStringLiteral("octet %1 is not 0 to 255").arg(part);
        value = (value << 8) | octet;
    }
    *address = value;
    return QString();
}

int MaskPrefix(uint32_t mask)
{
    const uint32_t hostBits = ~mask;
    // The host part is a run of low ones exactly when adding one clears all of it.
    if ((hostBits & (hostBits + 1)) != 0)
        return -1;
    int prefix = 0;
    for (uint32_t bit = 0x80000000u; bit && (mask & bit); bit >>= 1)
        ++prefix;
    return prefix;
}

namespace {
bool isUnicast(uint32_t address)
{
    const uint32_t first = address >> 24;
    return first != 0 && first != 127 && first < 224;
}
}

SettingsProblem CheckNetworkSettings(uint32_t address, uint32_t mask, uint32_t gateway)
{
    if (MaskPrefix(mask) < 0)
        return SettingsProblem::MaskNotContiguous;
    if (mask == 0)
        return SettingsProblem::MaskEmpty;
    if (!isUnicast(address))
        return SettingsProblem::AddressNotUnicast;
    // For /31 and /32 every address is its subnet's network or broadcast address, so
    // both masks are refused here.
    if ((address & ~mask) == 0)
        return SettingsProblem::NetworkAddress;
    if ((address | mask) == 0xFFFFFFFFu)
        return SettingsProblem::BroadcastAddress;
    if (!isUnicast(gateway))
        return SettingsProblem::GatewayNotUnicast;
    if (((address ^ gateway) & mask) != 0)
        return SettingsProblem::GatewayOutsideSubnet;
    if (gateway == address)
        return SettingsProblem::GatewayIsAddress;
    if ((gateway & ~mask) == 0 || (gateway | mask) == 0xFFFFFFFFu)
        return SettingsProblem::GatewayNetworkOrBroadcast;
    return SettingsProblem::None;
}
