#pragma once

#include <QString>

class QAccessibleInterface;
class QObject;

namespace velmora {

// Installed by the first LogPane: Qt asks it for a LogPane's accessible interface. Null
// for any other object.
QAccessibleInterface* LogPaneAccessibleFactory(const QString& class_name, QObject* object);

}  // namespace velmora
