#include "settings_store.h"

#include "platform_call.h"
#include "runtime_error.h"

#include <QDateTime>
#include <QFile>
#include <QSettings>

#include <memory>

namespace {

constexpr int kPathFileAccessError = 75;

// A fresh QSettings for every call: its status is sticky, so a reused object
// would go on reporting an old error and could hide a new one.
std::unique_ptr<QSettings> openStore(const QString &appName, const QString &section)
{
#ifdef Q_OS_WIN
    return std::make_unique<QSettings>(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\%1\\%2")
            .arg(appName, section),
        QSettings::NativeFormat);
#else
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, appName,
                                       section);
#endif
}

RuntimeError accessError(const QString &location)
{
    return RuntimeError(kPathFileAccessError,
                        QStringLiteral("Path/File access error (%1)").arg(location));
}

// QSettings reports a malformed section header; a NUL byte it silently
// treats as the end of the file. Either way, a write would lose entries.
bool readsUncleanly(const QSettings &store)
{
    if (store.status() == QSettings::FormatError)
        return true;
    QFile file(store.fileName());
    return file.open(QIODevice::ReadOnly) && file.readAll().contains('\0');
}

void moveAside(const QString &fileName)
{
    const QString aside = fileName + QStringLiteral(".unreadable-")
                          + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!QFile::rename(fileName, aside))
        throw accessError(fileName);
}

} // namespace

QString GetSetting(const QString &appName, const QString &section, const QString &key,
                   const QString &defaultValue)
{
    announcePlatformCall("GetSetting");
    const auto store = openStore(appName, section);
    if (store->status() == QSettings::AccessError)
        throw accessError(store->fileName());
    const QVariant value = store->value(key);
    if (!value.isValid())
        return defaultValue;
    // An unquoted comma in a hand-edited file reads as a list; give the text back.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void SaveSetting(const QString &appName, const QString &section, const QString &key,
                 const QString &value)
{
    auto store = openStore(appName, section);
#ifndef Q_OS_WIN
    if (QFile::exists(store->fileName()) && readsUncleanly(*store)) {
        const QString fileName = store->fileName();
        store.reset();
        moveAside(fileName);
        store = openStore(appName, section);
    }
#endif
    store->setValue(key, value);
    store->sync();
    if (store->status() != QSettings::NoError)
        throw accessError(store->fileName());
}

QString settingsLocation(const QString &appName, const QString &section)
{
    return openStore(appName, section)->fileName();
}
