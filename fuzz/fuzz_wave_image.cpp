// Any bytes as a sound: decoding gives samples or nothing, never a crash or a
// leak, and no more memory than a sound Brisquet could mean to play; what it
// gives plays through the player to its end.
#include "sound/wave_image.h"
#include "sound/wave_player.h"

#include <array>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray image(reinterpret_cast<const char *>(data), qsizetype(size));
    const OutputFormat format{44100, 2};
    const std::optional<std::vector<float>> samples = decodeWaveImage(image, format);
    if (samples && samples->size() * sizeof(float) > size_t(kLargestDecodedBytes))
        std::abort();
    WavePlayer player(format);
    player.start(player.prepare(image));
    std::array<float, 2 * 1024> out{};
    for (int buffers = 0; !player.isSilent(); ++buffers) {
        player.render(out.data(), 1024);
        if (buffers > 100000)
            std::abort(); // a sound that never ends
    }
    return 0;
}
