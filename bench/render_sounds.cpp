// Renders sounds 102, 103 and 104 through the sound output's player, as the
// audio callback would, into raw 32-bit float stereo files at 44100 Hz.
// Usage: bench_render_sounds <folder>; writes <folder>/<number>.f32
#include "sound/wave_player.h"
#include "system/resource_data.h"

#include <QCoreApplication>
#include <QFile>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const OutputFormat format{44100, 2};
    constexpr int kBufferFrames = 512;
    for (int number : {102, 103, 104}) {
        WavePlayer player(format);
        const QByteArray image = LoadResData(number, QStringLiteral("CUSTOM"));
        const WavePlayer::Sound *sound = player.prepare(image);
        const size_t total = sound->samples ? sound->samples->size() : 0;
        player.start(sound);
        std::vector<float> out;
        std::vector<float> buffer(kBufferFrames * 2);
        while (out.size() < total) {
            player.render(buffer.data(), kBufferFrames);
            out.insert(out.end(), buffer.begin(), buffer.end());
        }
        out.resize(total);
        QFile file(QStringLiteral("%1/%2.f32").arg(folder).arg(number));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write(reinterpret_cast<const char *>(out.data()), qint64(out.size() * sizeof(float)));
        std::printf("%d: %zu frames, %.1f ms\n", number, total / 2, 1000.0 * double(total / 2) / 44100);
    }
    return 0;
}
