// Late-bound property access by name, through Qt's meta-object system: how
// Brisquet reads and writes a control's property when it names the property
// rather than calling a typed member. A name the object does not declare
// raises "Object doesn't support this property or method" (438); no dynamic
// property is ever created by a write.
#pragma once

#include <QObject>
#include <QVariant>

QVariant propertyByName(const QObject &object, const char *name);
void setPropertyByName(QObject &object, const char *name, const QVariant &value);
