#include "platform/shell.h"

namespace platform {

bool ComInitialize() { return false; }
void ComUninitialize() {}
ShowState StartupShowState() { return ShowState::Normal; }

}  // namespace platform
