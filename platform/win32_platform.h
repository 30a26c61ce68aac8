// The real Windows calls behind PlatformOps.
#pragma once

#include "platform/platform.h"

extern const PlatformOps Win32PlatformOps;
