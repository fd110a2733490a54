#include "platform/tick.h"

#include "platform/win32.h"

Tick GetTickMs() { return static_cast<Tick>(GetTickCount()); }
