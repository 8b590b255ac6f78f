// The tool's version, as the banner shows it (and the image's .sbat section names it).
#pragma once

#define KESTREL_VERSION_TEXT "1.01.00"
constexpr const char16_t *ToolVersion = u"" KESTREL_VERSION_TEXT;
