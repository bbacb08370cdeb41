#include "system/random_numbers.h"

#include "system/platform_call.h"
#include "system/replaceable.h"

#include <chrono>
#include <random>

namespace {

std::mt19937 &generator()
{
    static std::mt19937 instance;
    return instance;
}

Replaceable<double()> &seam()
{
    static Replaceable<double()> instance;
    return instance;
}

} // namespace

void Randomize()
{
    // Milliseconds since midnight (UTC: the seed needs no time zone, and
    // reading one costs more than the draw): a fresh seed at every start.
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    const auto msOfDay = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 86'400'000;
    generator().seed(static_cast<std::mt19937::result_type>(msOfDay));
}

double Rnd()
{
    announcePlatformCall("Rnd");
    if (const auto &source = seam().replacement())
        return source();
    // A 32-bit draw over 2^32: exact in a double and always below 1.
    return static_cast<double>(generator()()) / 4294967296.0;
}

RandomNumberSource setRandomNumberSource(RandomNumberSource source)
{
    return seam().replace(std::move(source));
}
