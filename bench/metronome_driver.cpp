// Drives the real window as a user would, for the timing benchmark: builds
// Form1, runs its load handler, types the tempo, presses Start/Stop, lets it
// tick, then presses it again (or, with "full", waits for the automatic stop).
// Sound goes wherever SDL_AUDIODRIVER sends it.
// Usage: bench_metronome <tempo> <seconds|full> [grid|naive]
//  - grid: clicks on the sample grid, as Brisquet plays them;
//  - naive: each click at once, at the next device buffer (the old design).
// Prints the output's late starts, re-anchors and dropped starts, the
// process's CPU time and resident memory, and how long the window took to
// answer the Stop click (posted as a real mouse press and release, so it
// waits behind whatever the event queue holds, as a user's click does).
#include "form1.h"
#include "met.h"
#include "process_usage.h"
#include "sound/sound_output.h"
#include "system/monotonic_clock.h"

#include <QApplication>
#include <QDateTime>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString tempo = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("120");
    const bool full = argc > 2 && std::string(argv[2]) == "full";
    const int seconds = full ? 0 : (argc > 2 ? std::atoi(argv[2]) : 30);
    const bool naive = argc > 3 && std::string(argv[3]) == "naive";
    if (naive) {
        setSoundPlayHandler([](const QByteArray &image, qint64) {
            // Due well before its frame could be placed, yet not so late that
            // the output drops it: the player starts it at the next frame it renders.
            playWaveImageOnDevice(image, monotonicNowNs() - 3 * kUiJitterNs);
        });
    }

    Form1 form;
    form.Form_Load();
    form.Text1->setText(tempo);
    std::printf("rss after start-up: %ld KiB\n", residentKiB());

    const auto printCounts = [] {
        const SoundOutputCounts counts = soundOutputCounts();
        std::printf("late starts %d, re-anchors %d, dropped starts %d, reopens %d, heard %.1f ms after due\n",
                    counts.lateStarts, counts.reanchors, counts.droppedStarts, counts.reopens,
                    double(soundHeardDelayNs()) / 1e6);
    };
    // REPORT_LOG=file: the stream's timing reports, every 5 ms, as
    // "time-s frame heard-in-ms re-anchors dropped late", for what the server
    // said around a desktop's events (bench/desktop_events.sh).
    QTimer reportLog;
    FILE *reportFile = nullptr;
    if (const QByteArray path = qgetenv("REPORT_LOG"); !path.isEmpty())
        reportFile = std::fopen(path.constData(), "w");
    if (reportFile) {
        std::fprintf(reportFile, "# wall %.4f monotonic %.4f\n", double(QDateTime::currentMSecsSinceEpoch()) / 1e3,
                     double(monotonicNowNs()) / 1e9);
        reportLog.setTimerType(Qt::PreciseTimer);
        QObject::connect(&reportLog, &QTimer::timeout, &app, [&] {
            const SoundOutputReport report = soundOutputLastReport();
            const SoundOutputCounts counts = soundOutputCounts();
            std::fprintf(reportFile, "%.4f %lld %.3f %d %d %d\n", double(report.atNs) / 1e9,
                         static_cast<long long>(report.frame), double(report.heardInNs) / 1e6, counts.reanchors,
                         counts.droppedStarts, counts.lateStarts);
        });
        reportLog.start(5);
    }
    const double cpuBefore = cpuSeconds();
    form.PushButton6_Click();
    if (full) {
        // The automatic stop plays the end sound; two seconds later it has played out.
        QObject::connect(form.tmrCountDown, &PeriodicTimer::tick, &app, [&] {
            if (Met::Session.IsTicking)
                return;
            QTimer::singleShot(1000, &app, printCounts); // before the idle device closes
            QTimer::singleShot(2000, &app, &QApplication::quit);
        });
    } else {
        qint64 clickPostedNs = 0;
        QObject::connect(form.PushButton6, &QPushButton::clicked, &app, [&] {
            if (clickPostedNs != 0)
                std::printf("stop response: %.3f ms\n", double(monotonicNowNs() - clickPostedNs) / 1e6);
        });
        QTimer::singleShot(seconds * 1000, &app, [&] {
            printCounts();
            const QPointF centre = QRectF(form.PushButton6->rect()).center();
            clickPostedNs = monotonicNowNs();
            for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                QCoreApplication::postEvent(form.PushButton6,
                                            new QMouseEvent(type, centre, form.PushButton6->mapToGlobal(centre),
                                                            Qt::LeftButton,
                                                            type == QEvent::MouseButtonPress ? Qt::LeftButton
                                                                                             : Qt::NoButton,
                                                            Qt::NoModifier));
            QTimer::singleShot(1000, &app, [&] {
                if (Met::Session.IsTicking)
                    std::printf("still ticking a second after the Stop click\n");
                QApplication::quit();
            });
        });
    }
    QApplication::exec();
    if (reportFile)
        std::fclose(reportFile);
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("cpu %.3f s\nrss at the end: %ld KiB\n", cpu, residentKiB());
    return 0;
}
