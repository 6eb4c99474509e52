// The set-network text the window's batch sends, written out by hand, so that the
// window's test and the command line's test compare against the same bytes.
#pragma once

#include <QString>

inline QString WindowNetSetText(const QString& sn, const QString& ip, const QString& mask, const QString& gw)
{
    return QStringLiteral(R"({"user":"","pass":"","sn":"%1","net":1,"ip":"%2","mask":"%3","gw":"%4",)"
                          R"("mdns":"","adns":"","MNS":[]})")
        .arg(sn, ip, mask, gw);
}
