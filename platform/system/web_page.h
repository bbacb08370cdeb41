// Opening a web page in the user's browser through the platform shell,
// without waiting for it and ignoring whether it worked. On Windows this is
// "explorer" with the quoted address, its window minimized and taking the
// focus (web_page_windows.cpp); elsewhere the desktop's default browser
// (web_page_desktop.cpp). Tests replace the opener with setWebPageOpener()
// so that no test ever starts a browser.
#pragma once

#include <QString>

#include <functional>

void openWebPage(const QString &address);

// The system's own opener, one per operating system, which openWebPage()
// calls when no test has replaced it.
void openWebPageThroughShell(const QString &address);

#ifdef Q_OS_WIN
// What openWebPage asks Windows to start: the program, the command line
// after its name (the address in double quotes, as the shell passes it on),
// and the window's show state (SW_SHOWMINIMIZED: minimized, with the focus).
struct ShellCommand
{
    QString program;
    QString nativeArguments;
    int showWindow;
};
ShellCommand webPageCommand(const QString &address);
#endif

using WebPageOpener = std::function<void(const QString &address)>;

// Returns the opener it replaces; an empty opener restores the real one.
WebPageOpener setWebPageOpener(WebPageOpener opener);
