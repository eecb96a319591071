// What the window program asks of the operating system at start.
#pragma once

namespace platform {

// COM on the calling thread as a single-threaded apartment (Windows only;
// elsewhere there is nothing to prepare). True when it must be released.
bool ComInitialize();
void ComUninitialize();

enum class ShowState { Normal, Maximized, Minimized };
// How the process was asked to show its first window.
ShowState StartupShowState();

}  // namespace platform
