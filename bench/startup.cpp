// Start-up cost, phase by phase: the Qt application, building Form1,
// Form_Load (saved tempo, which is written straight back, and the sounds),
// and showing the window until it is exposed.
#include "form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

int main(int argc, char *argv[])
{
    QElapsedTimer clock;
    clock.start();
    QApplication app(argc, argv);
    const qint64 appNs = clock.nsecsElapsed();
    Form1 form;
    const qint64 formNs = clock.nsecsElapsed();
    form.Form_Load();
    const qint64 loadNs = clock.nsecsElapsed();
    form.show();
    const bool exposed = QTest::qWaitForWindowExposed(&form);
    const qint64 shownNs = clock.nsecsElapsed();
    const auto ms = [](qint64 ns) { return double(ns) / 1e6; };
    std::printf("QApplication %.2f ms, Form1 %.2f ms, Form_Load %.2f ms, shown %.2f ms%s; total %.2f ms\n",
                ms(appNs), ms(formNs - appNs), ms(loadNs - formNs), ms(shownNs - loadNs),
                exposed ? "" : " (not exposed)", ms(shownNs));
    return 0;
}
