#include "skin_framework.h"

#include "system/runtime_error.h"

#include <QApplication>
#include <QFile>
#include <QStringDecoder>
#include <QStyle>
#include <QWidget>

namespace {

constexpr int kSkinNotLoaded = 31001; // the component's own failure number

RuntimeError skinFailure(const QString &why, const QString &path)
{
    return {kSkinNotLoaded, QStringLiteral("Skin file %1 (%2)").arg(why, path)};
}

} // namespace

SkinFramework::SkinFramework(QObject *parent) : QObject(parent) {}

void SkinFramework::LoadSkin(const QString &path, const QString &section)
{
    Q_UNUSED(section);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
        throw skinFailure(QStringLiteral("cannot be read"), path);
    // One byte past the limit tells an oversized file without reading it all.
    const QByteArray bytes = file.read(kMostSkinBytes + 1);
    if (bytes.size() > kMostSkinBytes)
        throw skinFailure(QStringLiteral("is larger than 1 MiB"), path);
    if (file.error() != QFileDevice::NoError)
        throw skinFailure(QStringLiteral("cannot be read"), path);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString sheet = utf8.decode(bytes);
    if (utf8.hasError() || sheet.contains(QChar::Null))
        throw skinFailure(QStringLiteral("is not UTF-8 text"), path);
    m_styleSheet = std::move(sheet);
}

void SkinFramework::ApplyWindow(qint32 windowHandle)
{
    QWidget *window = QWidget::find(static_cast<WId>(static_cast<quint32>(windowHandle)));
    if (!window)
        throw RuntimeError(RuntimeError::InvalidPropertyValue,
                           QStringLiteral("Invalid window handle"));
    if (!m_enabled || m_styleSheet.isEmpty())
        return;
    // A style of a widget's own would keep the application's sheet from it,
    // so the uniform style is the application's.
    if (m_uniformStyle && QApplication::style()->name() != QLatin1String("fusion"))
        QApplication::setStyle(QStringLiteral("Fusion"));
    if (m_options & kSkinDialogs)
        qApp->setStyleSheet(m_styleSheet);
    else
        window->setStyleSheet(m_styleSheet);
}
