#include "wave_image.h"

#define SDL_MAIN_HANDLED // Brisquet has its own main(); SDL only plays sound
#include <SDL.h>

#include <cstring>

namespace {

// Brisquet's sounds are a few hundred milliseconds long; anything near this
// size is not a sound we mean to play.
constexpr qsizetype kLargestImageBytes = 64 * 1024 * 1024;

struct SdlWaveBuffer
{
    Uint8 *data = nullptr;
    ~SdlWaveBuffer() { SDL_FreeWAV(data); }
};

} // namespace

std::optional<std::vector<float>> decodeWaveImage(const QByteArray &image,
                                                  const OutputFormat &format)
{
    if (image.isEmpty() || image.size() > kLargestImageBytes)
        return std::nullopt;

    // A chunk that claims more bytes than the image holds is a damaged image.
    SDL_SetHint(SDL_HINT_WAVE_TRUNCATION, "strict");

    SDL_AudioSpec source{};
    SdlWaveBuffer samples;
    Uint32 sampleBytes = 0;
    SDL_RWops *reader = SDL_RWFromConstMem(image.constData(), static_cast<int>(image.size()));
    if (!reader || !SDL_LoadWAV_RW(reader, 1, &source, &samples.data, &sampleBytes))
        return std::nullopt;

    // SDL_AudioCVT rather than SDL_AudioStream: SDL 2.26's stream loses
    // about half of a short sound when it resamples 11025 Hz up to 44100 Hz.
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, source.format, source.channels, source.freq, AUDIO_F32SYS,
                          static_cast<Uint8>(format.channels), format.sampleRate)
        < 0)
        return std::nullopt;
    cvt.len = static_cast<int>(sampleBytes);
    std::vector<float> decoded((static_cast<size_t>(cvt.len) * static_cast<size_t>(cvt.len_mult)
                                + sizeof(float) - 1)
                               / sizeof(float));
    std::memcpy(decoded.data(), samples.data, sampleBytes);
    cvt.buf = reinterpret_cast<Uint8 *>(decoded.data());
    if (cvt.needed && SDL_ConvertAudio(&cvt) != 0)
        return std::nullopt;
    decoded.resize(static_cast<size_t>(cvt.needed ? cvt.len_cvt : cvt.len) / sizeof(float));
    if (decoded.empty())
        return std::nullopt;
    return decoded;
}
