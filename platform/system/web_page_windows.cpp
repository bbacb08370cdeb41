// Windows: "explorer" with the quoted address, shown minimized.
#include "system/web_page.h"

#include <QProcess>

#include <windows.h>

ShellCommand webPageCommand(const QString &address)
{
    return {QStringLiteral("explorer"), QLatin1Char('"') + address + QLatin1Char('"'), SW_SHOWMINIMIZED};
}

void openWebPageThroughShell(const QString &address)
{
    const ShellCommand command = webPageCommand(address);
    QProcess explorer;
    explorer.setProgram(command.program);
    explorer.setNativeArguments(command.nativeArguments);
    explorer.setCreateProcessArgumentsModifier([&command](QProcess::CreateProcessArguments *arguments) {
        arguments->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        arguments->startupInfo->wShowWindow = WORD(command.showWindow);
    });
    explorer.startDetached();
}
