// Decoding a WAVE image held in memory into the sample format of Brisquet's
// audio output, with SDL's own WAVE loader and converter: PCM 8-bit
// unsigned and 16-bit signed (and whatever else SDL reads), mono or stereo,
// any sample rate. Chunks other than "fmt " and "data" are skipped wherever
// they stand; a pad byte after an odd-length data chunk and bytes after the
// RIFF form are ignored. An image that SDL cannot read, or whose chunks
// claim more bytes than the image holds, cannot be played.
// No device is involved and nothing is cached here.
#pragma once

#include <QByteArray>

#include <optional>
#include <vector>

// Decoded samples are 32-bit float, interleaved.
struct OutputFormat
{
    int sampleRate = 44100;
    int channels = 2;
};

// Nothing when the decoded samples would take more than kLargestDecodedBytes
// (about three minutes at 44.1 kHz stereo): a few bytes claiming a sample
// rate of 1 Hz would otherwise resample to gigabytes.
std::optional<std::vector<float>> decodeWaveImage(const QByteArray &image,
                                                  const OutputFormat &format);

inline constexpr qsizetype kLargestDecodedBytes = 64 * 1024 * 1024;
