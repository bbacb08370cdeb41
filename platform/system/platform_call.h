// The seam through which tests make a platform operation fail. The operations
// Brisquet's trapped handlers depend on announce themselves here by name
// before they do their work (programFolder, Dir, LoadPicture, LoadResIcon,
// LoadResData, Rnd, setApplicationTitle, propertyByName, setPropertyByName,
// PeriodicTimer::setEnabled, GetSetting); a test installs a hook that throws a
// RuntimeError for the call it wants to fail. With no hook installed an
// announcement costs one test of an empty function.
#pragma once

#include <functional>

void announcePlatformCall(const char *operation);

using PlatformCallHook = std::function<void(const char *operation)>;

// Returns the hook it replaces; an empty hook removes it.
PlatformCallHook setPlatformCallHook(PlatformCallHook hook);
