#include "sound/wasapi_format.h"

namespace {

// Brisquet's output is always stereo float (wave_image.h).
constexpr int kRequestChannels = 2;
constexpr int kRequestBits = 32;

} // namespace

WasapiRequest wasapiRequestFor(const WasapiMixFormat &mix)
{
    // At the mix's own rate nothing resamples the clicks, which would add
    // the converter's delay to every one; a mix already in stereo float
    // needs no conversion at all, so none is asked for.
    const bool usableRate = mix.sampleRate >= kLowestMixRateHz && mix.sampleRate <= kHighestMixRateHz;
    const bool stereoFloat = mix.channels == kRequestChannels && mix.isFloat && mix.bitsPerSample == kRequestBits;
    return {usableRate ? mix.sampleRate : kWasapiFallbackRateHz, kRequestChannels, !(usableRate && stereoFloat)};
}
