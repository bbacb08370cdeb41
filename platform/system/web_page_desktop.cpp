// Linux and other desktops: the desktop's default browser (xdg-open on Linux).
#include "system/web_page.h"

#include <QDesktopServices>
#include <QUrl>

void openWebPageThroughShell(const QString &address)
{
    QDesktopServices::openUrl(QUrl(address));
}
