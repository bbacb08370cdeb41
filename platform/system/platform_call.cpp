#include "system/platform_call.h"

#include "system/replaceable.h"

namespace {
Replaceable<void(const char *)> &seam()
{
    static Replaceable<void(const char *)> instance;
    return instance;
}
} // namespace

void announcePlatformCall(const char *operation)
{
    seam().runReplacement(operation);
}

PlatformCallHook setPlatformCallHook(PlatformCallHook hook)
{
    return seam().replace(std::move(hook));
}
