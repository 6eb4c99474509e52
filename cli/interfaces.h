// Which of the IPv4 interfaces a search uses, as the companion is told, and their listing.
#pragma once

#include "adapters.h"

#include <QList>
#include <QString>
#include <QStringList>

// The interfaces named (each must be listed, by name or system name), or the defaults when
// names is empty.
// False with the reason in error for an unknown name, or when nothing qualifies.
bool ChooseInterfaces(
    const QList<InterfaceInfo>& all, const QStringList& names, QList<InterfaceInfo>* chosen, QString* error);

// The names users know the interfaces by, in order.
QStringList InterfaceNames(const QList<InterfaceInfo>& interfaces);

// One aligned line per interface, with a title line.
QString InterfacesText(const QList<InterfaceInfo>& all);
