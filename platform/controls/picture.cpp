#include "controls/picture.h"

#include "system/platform_call.h"
#include "system/runtime_error.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace {

constexpr int kFileNotFound = 53;
constexpr int kInvalidPicture = 481;

RuntimeError invalidPicture()
{
    return {kInvalidPicture, QStringLiteral("Invalid picture")};
}

// A cursor file starts with a 6-byte directory header (reserved 0, type 2,
// image count) followed by 16-byte entries; the first entry's bytes 4-7 are
// the hotspot's x and y.
QPoint cursorHotSpot(const QByteArray &bytes, QSize imageSize)
{
    const auto u16 = [&](qsizetype offset) {
        return quint16(quint8(bytes.at(offset)) | quint8(bytes.at(offset + 1)) << 8);
    };
    if (bytes.size() < 22 || u16(0) != 0 || u16(2) != 2 || u16(4) == 0)
        return {-1, -1};
    const QPoint hotSpot(u16(10), u16(12));
    if (hotSpot.x() >= imageSize.width() || hotSpot.y() >= imageSize.height())
        return {-1, -1};
    return hotSpot;
}

} // namespace

Picture LoadPicture(const QString &path)
{
    announcePlatformCall("LoadPicture");
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        throw RuntimeError(kFileNotFound, QStringLiteral("File not found"));
    if (!info.isFile() || info.size() > kMostPictureBytes)
        throw invalidPicture();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(kFileNotFound, QStringLiteral("File not found"));
    const QByteArray bytes = file.read(kMostPictureBytes + 1);
    if (bytes.size() > kMostPictureBytes)
        throw invalidPicture();

    // The content decides the format, not the file name: HAND-M.CUR is read as
    // whatever picture it really holds.
    QImage image = QImage::fromData(bytes);
    if (image.isNull())
        throw invalidPicture();
    Picture picture;
    picture.hotSpot = cursorHotSpot(bytes, image.size());
    picture.image = QPixmap::fromImage(std::move(image));
    return picture;
}
