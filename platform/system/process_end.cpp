#include "system/process_end.h"

#include "system/replaceable.h"

#include <cstdio>
#include <cstdlib>

namespace {
Replaceable<void()> &seam()
{
    static Replaceable<void()> instance;
    return instance;
}
} // namespace

void endProcess()
{
    if (seam().runReplacement())
        return;
    // _Exit skips static destructors and atexit work: the audio thread may still
    // be rendering, and tearing objects down under it is what could hang.
    std::fflush(nullptr);
    std::_Exit(0);
}

EndProcessHandler setEndProcessHandler(EndProcessHandler replacement)
{
    return seam().replace(std::move(replacement));
}
