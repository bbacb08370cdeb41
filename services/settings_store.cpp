#include "settings_store.h"

#include "system/platform_call.h"
#include "system/runtime_error.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>
#include <optional>

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

std::optional<QString> storedText(const QSettings &store, const QString &key)
{
    const QVariant value = store.value(key);
    if (!value.isValid())
        return std::nullopt;
    // An unquoted comma in a hand-edited file reads as a list; give the text back.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

RuntimeError accessError(const QString &location)
{
    return RuntimeError(kPathFileAccessError,
                        QStringLiteral("Path/File access error (%1)").arg(location));
}

#ifndef Q_OS_WIN // the registry has no file to damage or to edit by hand

// QSettings reports a malformed section header; a NUL byte it silently
// treats as the end of the file. Either way, a write would lose entries.
bool readsUncleanly(const QSettings &store)
{
    if (store.status() == QSettings::FormatError)
        return true;
    QFile file(store.fileName());
    return file.open(QIODevice::ReadOnly) && file.readAll().contains('\0');
}

// What rewriting the file through QSettings would keep of it: the file is
// copied aside, the key's present value (or, if it has none, the new one) is
// set in the copy and written back. Comments, lines that are no entry,
// blank lines and bytes that are no UTF-8 do not survive that.
QByteArray rewritten(const QString &fileName, const QString &key, const QString &newValue)
{
    QTemporaryDir scratch;
    const QString copy = scratch.filePath(QStringLiteral("rewrite.conf"));
    if (!scratch.isValid() || !QFile::copy(fileName, copy))
        return {};
    {
        QSettings store(copy, QSettings::IniFormat);
        const QVariant present = store.value(key);
        store.setValue(key, present.isValid() ? present : QVariant(newValue));
    }
    QFile file(copy);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every line of original is still a line of the rewritten file (line ends aside).
bool keepsEveryLine(const QByteArray &original, const QByteArray &after)
{
    QSet<QByteArray> kept;
    for (const QByteArray &line : after.split('\n'))
        kept.insert(line.endsWith('\r') ? line.chopped(1) : line);
    for (const QByteArray &line : original.split('\n')) {
        if (!kept.contains(line.endsWith('\r') ? line.chopped(1) : line))
            return false;
    }
    return true;
}

// Before the first write of a run: if a rewrite would drop any of the
// file's lines, the file is copied beside itself as
// "<name>.as-edited-<hash>", once per distinct content, before QSettings
// rewrites it. A copy that cannot be made stops the write.
void keepHandEditedLines(const QString &fileName, const QString &key, const QString &newValue)
{
    static QSet<QString> checked; // file names, this run
    if (checked.contains(fileName))
        return;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        checked.insert(fileName);
        return;
    }
    const QByteArray original = file.readAll();
    file.close();
    if (!keepsEveryLine(original, rewritten(fileName, key, newValue))) {
        const QByteArray hash = QCryptographicHash::hash(original, QCryptographicHash::Sha256).toHex().left(12);
        const QString copy = fileName + QStringLiteral(".as-edited-") + QString::fromLatin1(hash);
        if (!QFile::exists(copy) && !QFile::copy(fileName, copy))
            throw accessError(copy);
    }
    checked.insert(fileName);
}

void moveAside(const QString &fileName)
{
    const QString aside = fileName + QStringLiteral(".unreadable-")
                          + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!QFile::rename(fileName, aside))
        throw accessError(fileName);
}

#endif

} // namespace

QString GetSetting(const QString &appName, const QString &section, const QString &key,
                   const QString &defaultValue)
{
    announcePlatformCall("GetSetting");
    const auto store = openStore(appName, section);
    if (store->status() == QSettings::AccessError)
        throw accessError(store->fileName());
    return storedText(*store, key).value_or(defaultValue);
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
    } else if (QFile::exists(store->fileName())) {
        keepHandEditedLines(store->fileName(), key, value);
    }
#endif
    store->setValue(key, value);
    store->sync();
    // A line that is no entry makes the read before the write a FormatError,
    // and QSettings keeps the first error it meets, so that status says
    // nothing of the write itself: the store is asked again.
    const QSettings::Status status = store->status();
    if (status == QSettings::AccessError
        || (status == QSettings::FormatError && storedText(*openStore(appName, section), key) != value))
        throw accessError(store->fileName());
}

QString settingsLocation(const QString &appName, const QString &section)
{
    return openStore(appName, section)->fileName();
}
