#include "planmatch.h"

#include "serialhints.h"

#include <QHash>
#include <QSet>

#include <algorithm>

int PlanMatch::count(PlanState state) const
{
    return int(std::count_if(
        lines.begin(), lines.end(), [state](const PlanLine& line) { return line.state == state; }));
}

PlanMatch MatchPlan(const QList<Assignment>& plan, const QList<FoundAnswer>& found)
{
    QHash<QString, QList<int>> answersOf;
    QStringList heard;
    for (int i = 0; i < found.size(); ++i) {
        const QString& serial = found.at(i).serial;
        if (serial.isEmpty())
            continue;
        QList<int>& answers = answersOf[serial];
        if (answers.isEmpty())
            heard << serial;
        answers << i;
    }

    // What describes a device: its first reply, else (an announcement names no device) its
    // first answer.
    const auto describing = [&](const QList<int>& answers) {
        for (int i : answers) {
            if (found.at(i).reply)
                return i;
        }
        return answers.isEmpty() ? -1 : answers.first();
    };

    PlanMatch match;
    QSet<QString> named;
    for (const Assignment& a : plan) {
        named.insert(a.sn);
        PlanLine line;
        const QList<int> answers = answersOf.value(a.sn);
        line.first = describing(answers);
        QSet<QString> addresses;
        QSet<int> adapters;
        for (int i : answers) {
            const FoundAnswer& f = found.at(i);
            if (!f.reply)
                continue;
            if (!f.address.isEmpty())
                addresses.insert(f.address);
            if (f.adapter != 0)
                adapters.insert(f.adapter);
            if (f.configurable && line.found < 0)
                line.found = i;
        }
        if (answers.isEmpty()) {
            line.state = PlanState::NotFound;
            line.hint = SpreadsheetChangedSerial(a.sn, heard);
        } else if (line.found < 0) {
            line.state = PlanState::NotConfigurable;
        } else if (addresses.size() > 1) {
            line.state = PlanState::TwoAddresses;
            line.addresses = addresses.values();
            std::sort(line.addresses.begin(), line.addresses.end());
        } else if (adapters.size() > 1) {
            line.state = PlanState::TwoAdapters;
        } else {
            line.state = a.noMask ? PlanState::NoMask : PlanState::Set;
        }
        match.lines.append(line);
    }

    for (int i = 0; i < found.size(); ++i) {
        const QString& serial = found.at(i).serial;
        if (serial.isEmpty())
            match.notInPlan << i;
        else if (!named.contains(serial) && answersOf.value(serial).first() == i)
            match.notInPlan << describing(answersOf.value(serial));
    }
    return match;
}
