#include "sound/wave_image.h"

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

// True when a chunk up to and including the first "data" chunk claims more
// bytes than follow it. SDL allocates what a chunk claims before it finds
// out, so a few bytes claiming four gigabytes would cost that much memory
// before being refused; such an image is refused here first. SDL's own
// checks of everything else stay as they are.
bool claimsMoreThanItHolds(const QByteArray &image)
{
    const auto u32At = [&](qsizetype at) {
        const auto *p = reinterpret_cast<const unsigned char *>(image.constData() + at);
        return quint64(p[0]) | quint64(p[1]) << 8 | quint64(p[2]) << 16 | quint64(p[3]) << 24;
    };
    for (qsizetype at = 12; at + 8 <= image.size();) {
        const quint64 length = u32At(at + 4);
        if (length > quint64(image.size() - at - 8))
            return true;
        if (image.mid(at, 4) == "data")
            return false;
        at += 8 + qsizetype(length) + qsizetype(length & 1);
    }
    return false;
}

} // namespace

std::optional<std::vector<float>> decodeWaveImage(const QByteArray &image,
                                                  const OutputFormat &format)
{
    if (image.isEmpty() || image.size() > kLargestImageBytes || claimsMoreThanItHolds(image))
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
    const size_t workBytes = static_cast<size_t>(cvt.len) * static_cast<size_t>(cvt.len_mult);
    if (workBytes > static_cast<size_t>(kLargestDecodedBytes)
        || static_cast<double>(sampleBytes) * cvt.len_ratio > static_cast<double>(kLargestDecodedBytes))
        return std::nullopt;
    std::vector<float> decoded((workBytes + sizeof(float) - 1) / sizeof(float));
    std::memcpy(decoded.data(), samples.data, sampleBytes);
    cvt.buf = reinterpret_cast<Uint8 *>(decoded.data());
    if (cvt.needed && SDL_ConvertAudio(&cvt) != 0)
        return std::nullopt;
    decoded.resize(static_cast<size_t>(cvt.needed ? cvt.len_cvt : cvt.len) / sizeof(float));
    if (decoded.empty())
        return std::nullopt;
    return decoded;
}
