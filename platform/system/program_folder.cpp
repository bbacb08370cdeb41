#include "system/program_folder.h"

#include "system/platform_call.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString &folderOverride()
{
    static QString folder;
    return folder;
}
} // namespace

QString programFolder()
{
    announcePlatformCall("programFolder");
    if (!folderOverride().isEmpty())
        return folderOverride();
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

QString programFolderPath(const QString &tail)
{
#ifdef Q_OS_WIN
    return programFolder() + tail;
#else
    QString unixTail = tail;
    return programFolder() + unixTail.replace(QLatin1Char('\\'), QLatin1Char('/'));
#endif
}

QString setProgramFolder(const QString &folder)
{
    return std::exchange(folderOverride(), folder);
}
