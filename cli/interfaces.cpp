#include "interfaces.h"

#include "output.h"

#include <algorithm>

bool ChooseInterfaces(
    const QList<InterfaceInfo>& all, const QStringList& names, QList<InterfaceInfo>* chosen, QString* error)
{
    chosen->clear();
    if (names.isEmpty()) {
        for (const InterfaceInfo& info : all) {
            if (info.byDefault)
                chosen->append(info);
        }
        if (chosen->isEmpty()) {
            *error = QStringLiteral("no interface is up with an IPv4 address and multicast; "
                                    "see 'devicesearch-cli interfaces'");
            return false;
        }
        return true;
    }
    for (const QString& name : names) {
        const auto found = std::find_if(all.begin(), all.end(),
            [&](const InterfaceInfo& i) { return i.name == name || i.systemName == name; });
        if (found == all.end()) {
            *error = QStringLiteral("unknown interface '%1' (or it has no IPv4 address); "
                                    "see 'devicesearch-cli interfaces'")
                         .arg(name);
            return false;
        }
        const bool twice = std::any_of(
            chosen->begin(), chosen->end(), [&](const InterfaceInfo& i) { return i.name == found->name; });
        if (!twice)
            chosen->append(*found);
    }
    return true;
}

QString InterfacesText(const QList<InterfaceInfo>& all)
{
    // Where the system's names differ from the ones shown (Windows), list them too: both
    // are accepted by --interface.
    const bool systemNames
        = std::any_of(all.begin(), all.end(), [](const InterfaceInfo& i) { return i.systemName != i.name; });
    QList<QStringList> lines { { "NAME", "ADDRESS", "UP", "MULTICAST", "SEARCH" } };
    if (systemNames)
        lines.first() << QStringLiteral("SYSTEM NAME");
    const auto yes = [](bool b) { return b ? QStringLiteral("yes") : QStringLiteral("no"); };
    for (const InterfaceInfo& info : all) {
        lines.append({ TerminalSafe(info.name),
            QStringLiteral("%1/%2").arg(info.address.toString()).arg(info.prefix), yes(info.up),
            yes(info.multicast), info.byDefault ? QStringLiteral("default") : QStringLiteral("-") });
        if (systemNames)
            lines.last() << TerminalSafe(info.systemName);
    }
    return AlignedText(lines);
}

QStringList InterfaceNames(const QList<InterfaceInfo>& interfaces)
{
    QStringList names;
    for (const InterfaceInfo& info : interfaces)
        names << info.name;
    return names;
}
