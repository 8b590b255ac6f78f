// The tool's version, as the banner shows it.
#pragma once

constexpr const char16_t *ToolVersion = u"1.01.00";
