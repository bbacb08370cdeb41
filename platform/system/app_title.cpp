#include "system/app_title.h"

#include "system/platform_call.h"

#include <QCoreApplication>

#include <optional>

namespace {
std::optional<QString> &storedTitle()
{
    static std::optional<QString> title;
    return title;
}
} // namespace

QString applicationTitle()
{
    return storedTitle().value_or(QCoreApplication::applicationName());
}

void setApplicationTitle(const QString &title)
{
    announcePlatformCall("setApplicationTitle");
    storedTitle() = title;
}
