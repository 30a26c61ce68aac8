#include "platform/platform.h"

// Set by the start-up (or a test) before any other code runs.
const PlatformOps* g_platform = 0;
