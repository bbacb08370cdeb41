// Brisquet: a desktop metronome. Starts the Qt application, creates the main
// window, runs its load handler and shows it centred, then runs the event loop
// until closing the window ends the process.
#include "form1.h"
#include "product_info.h"
#include "system/termination_request.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char *argv[])
{
    // Brisquet reads no command line: Qt is handed the program name only.
    int qtArgc = 1;
    char *qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setOrganizationName(kCompanyName);
    QApplication::setApplicationName(kProductName);
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(BRISQUET_APP_ID));

    Form1 form;
    // Logging off, a shutdown or a kill request closes the window as the user would.
    onTerminationRequest([&form] { form.close(); });
    form.Form_Load();
    const QRect screen = form.screen()->availableGeometry();
    form.move(screen.center() - form.rect().center());
    form.show();
    return QApplication::exec();
}
