// A real ticking session, offscreen: how punctual the beat ticks are against
// the grid start + k x period, and the CPU time the process spends.
// Usage: bench_ticking <tempo> <seconds> [silent]
// "silent" empties the sound images, so the difference is the cost of sound.
#include "form1.h"
#include "met.h"
#include "process_usage.h"
#include "stats.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString tempo = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("120");
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const bool silent = argc > 3 && std::string(argv[3]) == "silent";

    Form1 form;
    form.Form_Load();
    if (silent)
        Met::Session.BeatSound = Met::Session.AccentSound = Met::Session.EndSound = QByteArray();
    form.Text1->setText(tempo);

    QElapsedTimer clock;
    std::vector<qint64> tickNs;
    QObject::connect(form.tmrBeat, &PeriodicTimer::tick, &app,
                     [&] { tickNs.push_back(clock.nsecsElapsed()); });

    const double cpuBefore = cpuSeconds();
    clock.start();
    form.PushButton6_Click();
    const double periodNs = form.tmrBeat->periodMs() * 1e6;
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    QApplication::exec();
    const double cpu = cpuSeconds() - cpuBefore;

    std::vector<double> latenessMs;
    for (size_t k = 0; k < tickNs.size(); ++k)
        latenessMs.push_back((double(tickNs[k]) - double(k + 1) * periodNs) / 1e6);
    std::printf("tempo %s, %s, %d s: %zu ticks, period %d ms\n", qPrintable(tempo),
                silent ? "sound off" : "sound on", seconds, tickNs.size(), form.tmrBeat->periodMs());
    printSummary("tick lateness against the grid", "ms", latenessMs);
    if (!latenessMs.empty())
        std::printf("last tick lateness (drift): %.3f ms\n", latenessMs.back());
    std::printf("CPU time: %.3f s (%.2f%% of one core)\n", cpu, 100.0 * cpu / seconds);
    return 0;
}
