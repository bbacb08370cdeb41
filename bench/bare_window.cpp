// The yardstick for Brisquet's footprint: a bare Qt window of Brisquet's
// size with nothing in it, or (with the argument "text") one line of text in
// Brisquet's window font, so that Qt loads its font database as any window
// with text must. bench/footprint.sh starts both beside the real program.
#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.setFixedSize(536, 234);
    if (argc > 1 && QByteArray(argv[1]) == "text") {
        auto *line = new QLabel(QStringLiteral("Beats Per Minute"), &window);
        line->setFont(QFont(QStringLiteral("Arial"), 9, QFont::Bold));
        line->move(16, 8);
    }
    window.show();
    return QApplication::exec();
}
