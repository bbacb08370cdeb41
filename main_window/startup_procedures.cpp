#include "startup_procedures.h"

#include "product_info.h"
#include "system/app_title.h"
#include "system/file_query.h"
#include "system/random_numbers.h"
#include "system/web_page.h"

#include <cmath>

namespace {
constexpr int kHomePageNumber = 7;
constexpr qsizetype kMostTitleChars = 40;
} // namespace

bool FileExists(const QString &path)
{
    try {
        FileDateTime(path);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

int HomePageDraw()
{
    Randomize();
    const int n = static_cast<int>(std::floor(Rnd() * 100)) + 1;
    if (n == kHomePageNumber)
        openWebPage(kHomePageAddress);
    return n;
}

void SetAppTitle()
{
    setApplicationTitle(titleFromProductName(kProductName));
}

QString titleFromProductName(const QString &productName)
{
    QString title = productName;
    do {
        const qsizetype lastBlank = title.lastIndexOf(QLatin1Char(' '));
        if (lastBlank < 0)
            break;
        title.truncate(lastBlank);
    } while (title.size() > kMostTitleChars);
    return title;
}
