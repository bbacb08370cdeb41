#include "resource_data.h"

#include "runtime_error.h"

#include <QFile>

namespace {
constexpr int kResourceNotFound = 326;
}

QByteArray LoadResData(int number, const QString &type)
{
    // Sounds are stored as :/<type>/<number>.wav.
    QFile resource(QStringLiteral(":/%1/%2.wav").arg(type).arg(number));
    if (!resource.open(QIODevice::ReadOnly))
        throw RuntimeError(kResourceNotFound,
                           QStringLiteral("Resource with identifier '%1' of type '%2' not found")
                               .arg(number)
                               .arg(type));
    return resource.readAll();
}
