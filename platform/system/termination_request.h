// Requests to end the program that come from outside its window: on Unix the
// signals a desktop session sends when the user logs off or the system shuts
// down (SIGTERM, SIGHUP) and Ctrl+C in a terminal (SIGINT). Each is turned
// into a call of the given function on the UI thread, so the program closes
// its window as if the user had. Windows delivers these as window messages
// to the main window, so there this does nothing.
#pragma once

#include <functional>

// Installs the handlers; call once, on the UI thread, after QApplication.
void onTerminationRequest(std::function<void()> handler);
