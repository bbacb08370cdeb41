// Ending the process at once, as closing Brisquet's window does: no further
// event of any window is handled and nothing is saved (every setting was
// written when it changed). Tests replace the ending with
// setEndProcessHandler() so that they can observe it and live on.
#pragma once

#include <functional>

void endProcess();

using EndProcessHandler = std::function<void()>;

// Returns the handler it replaces; an empty handler restores the real ending.
EndProcessHandler setEndProcessHandler(EndProcessHandler handler);
