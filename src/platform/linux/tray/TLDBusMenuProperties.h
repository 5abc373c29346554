#pragma once
// A menu item's properties as com.canonical.dbusmenu spells them.

#include <QStringList>
#include <QVariantMap>

class QAction;

// The properties of `action` that differ from the protocol's defaults: label (with the
// protocol's mnemonic marker), visibility, enabled state, icon, submenu, and check or radio
// state (radio for the choices of one setting and for exclusive groups).
QVariantMap TLDBusMenuProperties(const QAction* action);
// Whether the action is one of the choices of a setting (shown as a radio item).
bool TLDBusMenuSingleChoice(const QAction* action);
// Those of `properties` named in `names`; all of them when `names` is empty.
QVariantMap TLDBusMenuOnly(const QVariantMap& properties, const QStringList& names);
