// Finds Brisquet's clicks in a recording and measures how steady they are.
// Each click is located by matched filtering against the sounds themselves,
// decoded as the player decodes them, so an onset is the exact sample where a
// sound starts, whatever its attack (the accent is a noise burst whose
// envelope wanders; its own decay never counts as a second onset).
//
// Usage:
//   bench_click_onsets <recording.wav> <period-ms> [errors.txt [device-rate]]
//     Prints onsets, beat-to-beat interval errors against period-ms (the
//     first onset dropped), drift, and where the end sound fell on the grid;
//     writes each interval error (in samples) to errors.txt. With the
//     device's measured rate (frames per second of the monotonic clock), the
//     errors are against period-ms of real time in the device's own frames,
//     and a second line gives those of the clicks from 10 s on, once Brisquet
//     has measured that rate itself.
//   bench_click_onsets --train <out.wav> <period-ms> <beats>
//     Writes a pre-rendered click train (accent, then three clicks, at
//     exactly period-ms), the floor of the method when played with paplay.
// Recordings: 16-bit PCM WAVE, 44100 Hz, stereo.
#include "sound/wave_image.h"
#include "system/resource_data.h"

#include <QCoreApplication>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kTemplateFrames = 441; // the first 10 ms of a sound identify it
// The least match that counts as a click: an accent resampled on the way
// (PipeWire's graph at 48 kHz, and back for the recording) matches at 0.6 to
// 0.8, a click's own tail half a period after it below 0.3.
constexpr double kLeastMatch = 0.5;

struct Template
{
    char kind;
    std::vector<double> samples; // mono
    double energy = 0;
};

std::vector<float> decodedSound(int number)
{
    return *decodeWaveImage(LoadResData(number, QStringLiteral("CUSTOM")), OutputFormat{kRate, 2});
}

Template makeTemplate(char kind, int number)
{
    const std::vector<float> stereo = decodedSound(number);
    Template t{kind, {}, 0};
    for (int i = 0; i < kTemplateFrames; ++i) {
        const double v = (stereo[2 * i] + stereo[2 * i + 1]) / 2.0;
        t.samples.push_back(v);
        t.energy += v * v;
    }
    return t;
}

std::vector<double> readMono(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        qint64 size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        if (id == "data") {
            // A recording stopped by a signal may leave the size unwritten.
            size = std::min<qint64>(size, bytes.size() - at - 8);
            std::vector<double> mono(size_t(size / 4));
            const char *data = bytes.constData() + at + 8;
            for (size_t i = 0; i < mono.size(); ++i)
                mono[i] = (qFromLittleEndian<qint16>(data + 4 * i) + qFromLittleEndian<qint16>(data + 4 * i + 2))
                          / 65536.0;
            return mono;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

// How well the recording at `at` is the sound itself at the recording's gain:
// 1 minus the residual energy against the sound's. A click's decaying tail
// (the same tone, quieter) scores low, where a correlation normalised for
// energy would take it for a new click. The gain is measured on the first
// click (the sound server's volume need not be exactly 1).
double gain = 1.0;

double normalisedCorrelation(const std::vector<double> &x, size_t at, const Template &t)
{
    double dot = 0, energy = 0;
    for (int i = 0; i < kTemplateFrames; ++i) {
        dot += x[at + i] * t.samples[i];
        energy += x[at + i] * x[at + i];
    }
    return energy > 0 ? dot / std::sqrt(energy * t.energy) : 0;
}

double correlation(const std::vector<double> &x, size_t at, const Template &t)
{
    double residual = 0;
    for (int i = 0; i < kTemplateFrames; ++i) {
        const double d = x[at + i] - gain * t.samples[i];
        residual += d * d;
    }
    return 1.0 - residual / (gain * gain * t.energy);
}

struct Onset
{
    size_t frame;
    char kind;
    double match;
};

// The best match of any template at a frame in [from, to). Every frame is
// tried (the accent is noise: two frames off, it no longer matches), but only
// where the recording's energy over the template's length is near the
// sound's, kept as a running sum.
Onset bestMatch(const std::vector<double> &x, size_t from, size_t to, const std::vector<Template> &templates)
{
    Onset best{from, '?', -1};
    double energy = 0;
    for (int i = 0; i < kTemplateFrames; ++i)
        energy += x[from + i] * x[from + i];
    for (size_t at = from; at < to; ++at) {
        for (const Template &t : templates) {
            const double expected = gain * gain * t.energy;
            if (std::abs(energy - expected) > 0.5 * expected)
                continue;
            const double c = correlation(x, at, t);
            if (c > best.match)
                best = {at, t.kind, c};
        }
        energy += x[at + kTemplateFrames] * x[at + kTemplateFrames] - x[at] * x[at];
    }
    return best;
}

// The first click is where the recording first gets loud after silence; each
// later one is the best match from half a period to one and a half periods
// after the one before (a click cuts the tail of the one before it, so no
// silence need come first), or else the next place it gets loud.
std::vector<Onset> findOnsets(const std::vector<double> &x, double periodMs, const std::vector<Template> &templates)
{
    const size_t period = size_t(periodMs * kRate / 1000), room = kTemplateFrames + 8;
    std::vector<Onset> onsets;
    size_t first = 0;
    while (first + room < x.size() && std::abs(x[first]) < 0.004)
        ++first;
    if (first + room >= x.size())
        return onsets;
    // The first click: found by shape alone, and it sets the gain.
    Onset firstClick{first, '?', -1};
    for (size_t at = first - std::min<size_t>(first, 64); at < first + 64; ++at)
        for (const Template &t : templates) {
            const double c = normalisedCorrelation(x, at, t);
            if (c > firstClick.match)
                firstClick = {at, t.kind, c};
        }
    // The gain is the level the sound plays at: the energies' ratio, not the
    // projection onto the sound, which a server that resamples (PipeWire's
    // graph at 48 kHz) makes 10 to 20 % lower on the accent's noise. Too low
    // a gain matches a click a cycle of its tone late.
    for (const Template &t : templates) {
        if (t.kind != firstClick.kind)
            continue;
        double energy = 0;
        for (int i = 0; i < kTemplateFrames; ++i)
            energy += x[firstClick.frame + i] * x[firstClick.frame + i];
        gain = std::sqrt(energy / t.energy);
    }
    onsets.push_back(firstClick);
    for (;;) {
        const size_t from = onsets.back().frame + period / 2;
        const size_t to = std::min(onsets.back().frame + period + period / 2, x.size() - room);
        if (from >= to)
            break;
        Onset found = bestMatch(x, from, to, templates);
        if (found.match < kLeastMatch) {
            // No click where one was due (clicks that bunched up while the
            // stream started, or the session is over): go on from the next
            // place the recording gets loud, if any.
            size_t loud = to;
            while (loud + room < x.size() && std::abs(x[loud]) < 0.004)
                ++loud;
            if (loud + room >= x.size())
                break;
            found = bestMatch(x, loud - std::min<size_t>(loud, 64), std::min(loud + 64, x.size() - room), templates);
            if (found.match < kLeastMatch)
                break;
        }
        onsets.push_back(found);
    }
    return onsets;
}

// Mean, SD, p99 and largest interval error, and the drift: the slope of
// onset against beat number, against the expected interval.
void printErrors(const char *what, const std::vector<double> &errors, const std::vector<Onset> &clicks,
                 double expected)
{
    const double mean = std::accumulate(errors.begin(), errors.end(), 0.0) / double(errors.size());
    double var = 0, worst = 0;
    std::vector<double> magnitudes;
    for (double e : errors) {
        var += (e - mean) * (e - mean);
        worst = std::max(worst, std::abs(e));
        magnitudes.push_back(std::abs(e));
    }
    std::sort(magnitudes.begin(), magnitudes.end());
    const double sd = std::sqrt(var / double(errors.size()));
    const double p99 = magnitudes[std::min(magnitudes.size() - 1, size_t(0.99 * double(magnitudes.size())))];
    const double n = double(clicks.size());
    double sk = 0, sf = 0, skk = 0, skf = 0;
    for (size_t k = 0; k < clicks.size(); ++k) {
        const double f = double(clicks[k].frame - clicks[0].frame);
        sk += double(k); sf += f; skk += double(k) * double(k); skf += double(k) * f;
    }
    const double slope = (n * skf - sk * sf) / (n * skk - sk * sk);
    const double driftPpm = (slope / expected - 1) * 1e6;
    const double ms = 1000.0 / kRate;
    std::printf("%s: mean %.2f sd %.2f p99 %.1f max %.1f samples (sd %.3f p99 %.3f max %.3f ms), drift %.1f ppm\n",
                what, mean, sd, p99, worst, sd * ms, p99 * ms, worst * ms, driftPpm);
}

void writeTrain(const QString &path, double periodMs, int beats)
{
    const std::vector<float> accent = decodedSound(103), click = decodedSound(102);
    const size_t period = size_t(std::llround(periodMs * kRate / 1000)), frames = period * (beats + 1);
    std::vector<float> out(frames * 2, 0.0f);
    for (int k = 0; k < beats; ++k) {
        const std::vector<float> &sound = k % 4 == 0 ? accent : click;
        const size_t start = (k + 1) * period * 2;
        // A sound that starts cuts the one before it, as the player does.
        std::fill(out.begin() + long(start), out.end(), 0.0f);
        std::copy_n(sound.begin(), std::min(sound.size(), out.size() - start), out.begin() + long(start));
    }
    QByteArray wav("RIFF....WAVEfmt ");
    const auto u32 = [&](quint32 v) { char b[4]; qToLittleEndian(v, b); wav.append(b, 4); };
    const auto u16 = [&](quint16 v) { char b[2]; qToLittleEndian(v, b); wav.append(b, 2); };
    u32(16); u16(1); u16(2); u32(kRate); u32(kRate * 4); u16(4); u16(16);
    wav.append("data"); u32(quint32(frames * 4));
    for (float v : out)
        u16(quint16(qint16(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767))));
    qToLittleEndian<quint32>(quint32(wav.size() - 8), wav.data() + 4);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(wav);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc >= 5 && std::string(argv[1]) == "--train") {
        writeTrain(QString::fromLocal8Bit(argv[2]), std::atof(argv[3]), std::atoi(argv[4]));
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_click_onsets <recording.wav> <period-ms> [errors.txt]\n");
        return 2;
    }
    const double periodMs = std::atof(argv[2]);
    const std::vector<double> x = readMono(QString::fromLocal8Bit(argv[1]));
    const std::vector<Template> templates = {makeTemplate('A', 103), makeTemplate('c', 102), makeTemplate('E', 104)};
    std::vector<Onset> onsets = findOnsets(x, periodMs, templates);

    std::vector<Onset> clicks, ends;
    for (const Onset &o : onsets)
        (o.kind == 'E' ? ends : clicks).push_back(o);
    if (clicks.size() < 3) {
        std::printf("onsets %zu: too few clicks\n", clicks.size());
        return 1;
    }
    std::string pattern; // A accent, c click: the first bars of the session
    for (size_t k = 0; k < clicks.size() && k < 24; ++k)
        pattern += clicks[k].kind;
    std::printf("pattern %s%s\n", pattern.c_str(), clicks.size() > 24 ? " ..." : "");
    double worstMatch = 1;
    for (const Onset &o : onsets)
        worstMatch = std::min(worstMatch, o.match);
    // The first click of a run also pays for the start: dropped, unless
    // KEEP_FIRST_CLICK is set (to measure the session's first interval).
    const bool keepFirst = qEnvironmentVariableIsSet("KEEP_FIRST_CLICK");
    if (!keepFirst)
        clicks.erase(clicks.begin());

    const double rate = argc > 4 ? std::atof(argv[4]) : kRate;
    const double expected = periodMs * rate / 1000;
    std::vector<double> errors;
    for (size_t k = 1; k < clicks.size(); ++k)
        errors.push_back(double(clicks[k].frame - clicks[k - 1].frame) - expected);
    std::printf("clicks %zu (first %s), intervals %zu, matched >= %.3f, gain %.4f, against %.2f Hz\n",
                clicks.size(), keepFirst ? "kept" : "dropped", errors.size(), worstMatch, gain, rate);
    printErrors("interval error", errors, clicks, expected);
    const size_t settledFrom = size_t(std::find_if(clicks.begin(), clicks.end(), [&](const Onset &o) {
                                          return double(o.frame - clicks[0].frame) >= 10 * rate;
                                      }) - clicks.begin());
    if (settledFrom + 3 < clicks.size())
        printErrors("from 10 s", std::vector<double>(errors.begin() + long(settledFrom), errors.end()),
                    std::vector<Onset>(clicks.begin() + long(settledFrom), clicks.end()), expected);
    // The end sound against the grid the last clicks extend to: their own
    // spacing, so that a mean error of a tenth of a sample over ten minutes
    // of clicks does not count against it.
    for (const Onset &end : ends) {
        const size_t last = clicks.size() - 1, from = last >= 20 ? last - 20 : 0;
        const double spacing = double(clicks[last].frame - clicks[from].frame) / double(last - from);
        const double beats = double(end.frame - clicks[last].frame) / spacing;
        std::printf("end sound: %.3f samples off the beat grid (%.0f beats after the last click)\n",
                    (beats - std::round(beats)) * spacing, std::round(beats));
    }
    if (argc > 3) {
        FILE *out = std::fopen(argv[3], "w");
        for (double e : errors)
            std::fprintf(out, "%.2f\n", e);
        std::fclose(out);
    }
    return 0;
}
