#include "sound_output.h"

#include "replaceable.h"

namespace {
Replaceable<void(const QByteArray &)> &seam()
{
    static Replaceable<void(const QByteArray &)> instance;
    return instance;
}
} // namespace

void playWaveImage(const QByteArray &image)
{
    if (seam().runReplacement(image))
        return;
    // No audio device is driven yet: every request is silent.
}

SoundPlayHandler setSoundPlayHandler(SoundPlayHandler replacement)
{
    return seam().replace(std::move(replacement));
}
