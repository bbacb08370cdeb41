#include "system/web_page.h"

#include "system/replaceable.h"

#ifdef Q_OS_WIN
#include <QProcess>
#include <windows.h>
#else
#include <QDesktopServices>
#include <QUrl>
#endif

namespace {
Replaceable<void(const QString &)> &seam()
{
    static Replaceable<void(const QString &)> instance;
    return instance;
}
} // namespace

#ifdef Q_OS_WIN
ShellCommand webPageCommand(const QString &address)
{
    return {QStringLiteral("explorer"), QLatin1Char('"') + address + QLatin1Char('"'), SW_SHOWMINIMIZED};
}
#endif

void openWebPage(const QString &address)
{
    if (seam().runReplacement(address))
        return;
#ifdef Q_OS_WIN
    const ShellCommand command = webPageCommand(address);
    QProcess explorer;
    explorer.setProgram(command.program);
    explorer.setNativeArguments(command.nativeArguments);
    explorer.setCreateProcessArgumentsModifier([&command](QProcess::CreateProcessArguments *arguments) {
        arguments->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        arguments->startupInfo->wShowWindow = WORD(command.showWindow);
    });
    explorer.startDetached();
#else
    QDesktopServices::openUrl(QUrl(address));
#endif
}

WebPageOpener setWebPageOpener(WebPageOpener opener)
{
    return seam().replace(std::move(opener));
}
