#include "shell/platform_context.h"

PlatformContextRecord PlatformContext = {nullptr, nullptr, nullptr};
