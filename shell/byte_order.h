// Little-endian values in byte buffers that may sit at any alignment (records on disk, firmware
// structures, trace payloads), gathered and spread one byte at a time so that no unaligned or
// wider access is ever made.
#pragma once

#include "uefi/uefi.h"

// Size bytes (at most 8), least significant first.
inline UINT64 LoadLe(const UINT8 *Bytes, UINTN Size) {
  UINT64 Value = 0;
  for (UINTN Index = Size < 8 ? Size : 8; Index > 0; Index--)
    Value = (Value << 8) | Bytes[Index - 1];
  return Value;
}

// The low Size bytes (at most 8) of Value, least significant first.
inline VOID StoreLe(UINT8 *Bytes, UINTN Size, UINT64 Value) {
  for (UINTN Index = 0; Index < Size && Index < 8; Index++)
    Bytes[Index] = static_cast<UINT8>(Value >> (8 * Index));
}

inline UINT16 LoadLe16(const UINT8 *Bytes) {
  return static_cast<UINT16>(LoadLe(Bytes, sizeof(UINT16)));
}
inline UINT32 LoadLe32(const UINT8 *Bytes) {
  return static_cast<UINT32>(LoadLe(Bytes, sizeof(UINT32)));
}
inline VOID StoreLe32(UINT8 *Bytes, UINT32 Value) {
  StoreLe(Bytes, sizeof(UINT32), Value);
}
