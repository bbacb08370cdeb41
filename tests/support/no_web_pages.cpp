// Linked into every test: no test ever opens a browser. Start-up draws for the
// home page, so any test that runs it may draw the number that opens it; the
// opener installed here only logs the address. Tests that observe the opener install
// their own and get this one back afterwards.
#include "system/web_page.h"

#include <QDebug>

namespace {
const bool installed = [] {
    setWebPageOpener([](const QString &address) { qInfo() << "web page not opened in a test:" << address; });
    return true;
}();
} // namespace
