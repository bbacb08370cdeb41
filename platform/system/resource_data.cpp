#include "system/resource_data.h"

#include "system/platform_call.h"
#include "system/runtime_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QResource>

namespace {

constexpr int kResourceNotFound = 326;

RuntimeError resourceNotFound(int number, const QString &type)
{
    return {kResourceNotFound,
            QStringLiteral("Resource with identifier '%1' of type '%2' not found").arg(number).arg(type)};
}

} // namespace

QByteArray LoadResData(int number, const QString &type)
{
    announcePlatformCall("LoadResData");
    // Sounds are stored as :/<type>/<number>.wav.
    QFile resource(QStringLiteral(":/%1/%2.wav").arg(type).arg(number));
    if (!resource.open(QIODevice::ReadOnly))
        throw resourceNotFound(number, type);
    return resource.readAll();
}

QIcon LoadResIcon(int number)
{
    announcePlatformCall("LoadResIcon");
    // Icon group n is the folder :/ICON/<n>, one image per file, named by its
    // side in pixels and held uncompressed as premultiplied B, G, R, A bytes:
    // on a little-endian machine the pixmaps use that memory as it is.
    const QDir group(QStringLiteral(":/ICON/%1").arg(number));
    const QStringList images = group.entryList({QStringLiteral("*.bgra")}, QDir::Files);
    if (images.isEmpty())
        throw resourceNotFound(number, QStringLiteral("ICON"));
    QIcon icon;
    for (const QString &name : images) {
        const QResource image(group.filePath(name));
        const int side = QFileInfo(name).baseName().toInt();
        if (side <= 0 || image.compressionAlgorithm() != QResource::NoCompression
            || image.size() != qint64(side) * side * 4)
            throw resourceNotFound(number, QStringLiteral("ICON"));
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        const QImage pixels(image.data(), side, side, side * 4, QImage::Format_ARGB32_Premultiplied);
#else
        const QImage pixels = QImage(image.data(), side, side, side * 4,
                                     QImage::Format_RGBA8888_Premultiplied).rgbSwapped();
#endif
        icon.addPixmap(QPixmap::fromImage(pixels));
    }
    return icon;
}
