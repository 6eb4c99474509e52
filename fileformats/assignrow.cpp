#include "assignrow.h"

QString AssignStatusText(AssignStatus status)
{
    switch (status) {
    case AssignStatus::Planned:
        return QStringLiteral("planned");
    case AssignStatus::Sent:
        return QStringLiteral("sent");
    case AssignStatus::NotSent:
        return QStringLiteral("not sent");
    case AssignStatus::Confirmed:
        return QStringLiteral("confirmed");
    case AssignStatus::NotConfirmed:
        return QStringLiteral("not confirmed");
    case AssignStatus::OtherAddress:
        return QStringLiteral("other address");
    }
    return QString();
}
