#include "system/web_page.h"

#include "system/replaceable.h"

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
    openWebPageThroughShell(address);
}

WebPageOpener setWebPageOpener(WebPageOpener opener)
{
    return seam().replace(std::move(opener));
}
