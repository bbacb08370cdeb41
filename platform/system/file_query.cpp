#include "system/file_query.h"

#include "system/platform_call.h"
#include "system/runtime_error.h"

#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {
constexpr int kFileNotFound = 53;
}

QDateTime FileDateTime(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        throw RuntimeError(kFileNotFound, QStringLiteral("File not found"));
    return info.lastModified();
}

QString Dir(const QString &path)
{
    announcePlatformCall("Dir");
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return {};
#ifdef Q_OS_WIN
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(path.utf16()));
    if (attributes == INVALID_FILE_ATTRIBUTES
        || (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0)
        return {};
#endif
    return info.fileName();
}
