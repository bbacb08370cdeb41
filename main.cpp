// Brisquet: a desktop metronome. Starts the Qt application, creates the main
// window and runs the event loop until the window closes the process.
#include "form1.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char *argv[])
{
    // Brisquet reads no command line: Qt is handed the program name only.
    int qtArgc = 1;
    char *qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("Brisquet"));
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));

    Form1 form;
    form.Form_Load();
    const QRect screen = form.screen()->availableGeometry();
    form.move(screen.center() - form.rect().center());
    form.show();
    return QApplication::exec();
}
