#include "hosted/text.h"

#include <cstdint>
#include <cstdio>

#include "shell/memory.h"

void AppendUtf8(char16_t C, std::string *Out) {
  if (C < 0x80) {
    Out->push_back(static_cast<char>(C));
  } else if (C < 0x800) {
    Out->push_back(static_cast<char>(0xC0 | (C >> 6)));
    Out->push_back(static_cast<char>(0x80 | (C & 0x3F)));
  } else {
    Out->push_back(static_cast<char>(0xE0 | (C >> 12)));
    Out->push_back(static_cast<char>(0x80 | ((C >> 6) & 0x3F)));
    Out->push_back(static_cast<char>(0x80 | (C & 0x3F)));
  }
}

std::string EncodeUtf8(const char16_t *Text) {
  std::string Out;
  for (; *Text != 0; Text++)
    AppendUtf8(*Text, &Out);
  return Out;
}

bool DecodeUtf8Argument(const std::string &Text, std::u16string *Wide) {
  Wide->clear();
  const auto *Bytes = reinterpret_cast<const UINT8 *>(Text.data());
  for (UINTN At = 0; At < Text.size();) {
    CHAR16 C = 0;
    if (!DecodeUtf8(Bytes, Text.size(), &At, &C))
      return false;
    Wide->push_back(C);
  }
  return true;
}

std::string Shown(const std::string &Text) {
  std::string Out;
  const auto *Bytes = reinterpret_cast<const UINT8 *>(Text.data());
  for (UINTN At = 0; At < Text.size();) {
    const UINTN From = At;
    CHAR16 C = 0;
    const bool Decoded = DecodeUtf8(Bytes, Text.size(), &At, &C);
    if (Decoded && C >= 0x20 && C != 0x7F && (C < 0x80 || C > 0x9F)) {
      Out.append(Text, From, At - From);
      continue;
    }
    if (!Decoded)
      At = From + 1;
    char Escape[8];
    for (UINTN I = From; I < At; I++) {
      snprintf(Escape, sizeof(Escape), "\\x%02x", Bytes[I]);
      Out += Escape;
    }
  }
  return Out;
}

void Warn(const std::string &Text, FILE *Stream) {
  fprintf(Stream, "kestrel: %s\n", Shown(Text).c_str());
}
