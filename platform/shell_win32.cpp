#include <objbase.h>
#include <windows.h>

#include "platform/shell.h"

namespace platform {

bool ComInitialize() { return SUCCEEDED(CoInitialize(nullptr)); }
void ComUninitialize() { CoUninitialize(); }

ShowState StartupShowState() {
  STARTUPINFOW info{};
  info.cb = sizeof(info);
  GetStartupInfoW(&info);
  if (!(info.dwFlags & STARTF_USESHOWWINDOW)) return ShowState::Normal;
  switch (info.wShowWindow) {
    case SW_SHOWMAXIMIZED:
      return ShowState::Maximized;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
      return ShowState::Minimized;
    default:
      return ShowState::Normal;
  }
}

}  // namespace platform
