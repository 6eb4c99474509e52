// A plan for devsim's devices SN0001..: new addresses under prefix ("10.2" gives 10.2.0.2
// on), 200 to a /24 from .2 up, so that none is a gateway's .1.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

inline QByteArray NumberedPlan(int devices, const QString& prefix)
{
    QByteArray plan = "sn,ip\n";
    for (int k = 1; k <= devices; ++k)
        plan += QStringLiteral("SN%1,%2.%3.%4\n")
                    .arg(k, 4, 10, QChar('0'))
                    .arg(prefix)
                    .arg(k / 200)
                    .arg(k % 200 + 2)
                    .toUtf8();
    return plan;
}
