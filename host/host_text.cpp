#include "host/host_text.h"

#include <cstdint>
#include <cstdio>

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
  const auto *P = reinterpret_cast<const unsigned char *>(Text.data());
  const auto *End = P + Text.size();
  while (P < End) {
    uint32_t C = *P++;
    int Follow = 0;
    uint32_t Least = 0;
    if (C >= 0xC2 && C <= 0xDF) {
      Follow = 1, Least = 0x80, C &= 0x1F;
    } else if (C >= 0xE0 && C <= 0xEF) {
      Follow = 2, Least = 0x800, C &= 0x0F;
    } else if (C >= 0x80) {
      return false; // a stray continuation byte, an overlong lead, or beyond UCS-2
    }
    for (int I = 0; I < Follow; I++) {
      if (P == End || (*P & 0xC0) != 0x80)
        return false;
      C = C << 6 | (*P++ & 0x3F);
    }
    if (C < Least || (C >= 0xD800 && C <= 0xDFFF))
      return false;
    Wide->push_back(static_cast<char16_t>(C));
  }
  return true;
}

void Warn(const std::string &Text) {
  fprintf(stderr, "kestrel: %s\n", Text.c_str());
}
