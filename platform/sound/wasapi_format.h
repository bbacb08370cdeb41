// What Brisquet's Windows stream (sound_stream_wasapi.cpp) asks the audio
// engine for, given the format the engine mixes the device in: interleaved
// stereo 32-bit float, at the mix's own rate where that is a usable one, and
// whether the engine has to convert between the two (AUTOCONVERTPCM, with
// the default-quality rate converter). Plain values only and no Windows
// headers, so that the choice is built and tested on every system. Reading
// the mix format and opening the stream are the stream's.
#pragma once

// The engine's mix format, as IAudioClient::GetMixFormat gives it.
struct WasapiMixFormat
{
    int sampleRate = 0; // frames a second
    int channels = 0;
    bool isFloat = false; // IEEE float samples, by the format tag or the extensible subtype
    int bitsPerSample = 0; // of the container
};

// What to ask for: 32-bit float samples, channels of them a frame, sampleRate frames a second.
struct WasapiRequest
{
    int sampleRate = 0;
    int channels = 0;
    // The engine converts channels, sample format and rate into its mix:
    // AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY.
    bool autoconvert = false;
};

// Mix rates outside these are no device's (a broken or missing format):
// the stream then asks for kWasapiFallbackRateHz and the engine converts.
inline constexpr int kLowestMixRateHz = 8'000;
inline constexpr int kHighestMixRateHz = 384'000;
inline constexpr int kWasapiFallbackRateHz = 48'000;

WasapiRequest wasapiRequestFor(const WasapiMixFormat &mix);
