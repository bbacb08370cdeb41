#include "system/dispatch.h"

#include "system/platform_call.h"
#include "system/runtime_error.h"

#include <QMetaProperty>

namespace {

QMetaProperty declaredProperty(const QObject &object, const char *name)
{
    const QMetaObject *meta = object.metaObject();
    const int index = meta->indexOfProperty(name);
    if (index < 0)
        throw RuntimeError(RuntimeError::PropertyMissing,
                           QStringLiteral("Object doesn't support this property or method"));
    return meta->property(index);
}

} // namespace

QVariant propertyByName(const QObject &object, const char *name)
{
    announcePlatformCall("propertyByName");
    return declaredProperty(object, name).read(&object);
}

void setPropertyByName(QObject &object, const char *name, const QVariant &value)
{
    announcePlatformCall("setPropertyByName");
    if (!declaredProperty(object, name).write(&object, value))
        throw RuntimeError::invalidPropertyValue();
}
