// Opening a web page in the user's browser through the platform shell,
// without waiting for it and ignoring whether it worked. On Windows this is
// "explorer" with the quoted address, its window minimized and taking the
// focus; elsewhere the desktop's default browser. Tests replace the opener
// with setWebPageOpener() so that no test ever starts a browser.
#pragma once

#include <QString>

#include <functional>

void openWebPage(const QString &address);

using WebPageOpener = std::function<void(const QString &address)>;

// Returns the opener it replaces; an empty opener restores the real one.
WebPageOpener setWebPageOpener(WebPageOpener opener);
