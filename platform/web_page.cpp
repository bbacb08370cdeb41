#include "web_page.h"

#include "replaceable.h"

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

void openWebPage(const QString &address)
{
    if (seam().runReplacement(address))
        return;
#ifdef Q_OS_WIN
    // The command line is: explorer "<address>", shown minimized with the focus.
    QProcess explorer;
    explorer.setProgram(QStringLiteral("explorer"));
    explorer.setNativeArguments(QLatin1Char('"') + address + QLatin1Char('"'));
    explorer.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        arguments->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        arguments->startupInfo->wShowWindow = SW_SHOWMINIMIZED;
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
