#include "shell/memory.h"

#include "shell/platform_context.h"

VOID *AllocateBuffer(UINTN Size) {
  EFI_BOOT_SERVICES *Bs = PlatformContext.BootServices;
  if (Bs == nullptr)
    return nullptr;
  VOID *Buffer = nullptr;
  if (EFI_ERROR(Bs->AllocatePool(EfiBootServicesData, Size, &Buffer)))
    return nullptr;
  return Buffer;
}

VOID *AllocateZeroedBuffer(UINTN Size) {
  VOID *Buffer = AllocateBuffer(Size);
  if (Buffer != nullptr)
    ZeroBytes(Buffer, Size);
  return Buffer;
}

VOID FreeBuffer(VOID *Buffer) {
  if (Buffer != nullptr && PlatformContext.BootServices != nullptr)
    PlatformContext.BootServices->FreePool(Buffer);
}

VOID *CopyBytes(VOID *Destination, const VOID *Source, UINTN Count) {
  UINT8 *To = static_cast<UINT8 *>(Destination);
  const UINT8 *From = static_cast<const UINT8 *>(Source);
  if (Count == 0 || To == From)
    return Destination;
  // Copy backwards when the destination starts inside the source, so nothing is overwritten
  // before it has been read.
  if (To > From && To < From + Count) {
    for (UINTN I = Count; I > 0; I--)
      To[I - 1] = From[I - 1];
  } else {
    for (UINTN I = 0; I < Count; I++)
      To[I] = From[I];
  }
  return Destination;
}

VOID ZeroBytes(VOID *Buffer, UINTN Count) {
  UINT8 *Bytes = static_cast<UINT8 *>(Buffer);
  for (UINTN I = 0; I < Count; I++)
    Bytes[I] = 0;
}

bool AllBytesZero(const VOID *Buffer, UINTN Count) {
  const UINT8 *Bytes = static_cast<const UINT8 *>(Buffer);
  for (UINTN I = 0; I < Count; I++) {
    if (Bytes[I] != 0)
      return false;
  }
  return true;
}

bool BytesEqual(const VOID *A, const VOID *B, UINTN Count) {
  const UINT8 *X = static_cast<const UINT8 *>(A), *Y = static_cast<const UINT8 *>(B);
  for (UINTN I = 0; I < Count; I++) {
    if (X[I] != Y[I])
      return false;
  }
  return true;
}

bool DecodeUtf8(const UINT8 *Bytes, UINTN Size, UINTN *At, CHAR16 *Character) {
  UINT32 C = Bytes[(*At)++];
  // One, two or three bytes; a continuation byte, an overlong lead or a longer form is none.
  UINTN Follow = C < 0x80 ? 0 : C >= 0xC2 && C <= 0xDF ? 1 : (C & 0xF0) == 0xE0 ? 2 : 3;
  if (Follow == 3 || *At + Follow > Size)
    return false;
  C &= Follow == 0 ? 0x7F : Follow == 1 ? 0x1F : 0x0F;
  for (UINTN I = 0; I < Follow; I++) {
    if ((Bytes[*At] & 0xC0) != 0x80)
      return false;
    C = C << 6 | (Bytes[(*At)++] & 0x3F);
  }
  if ((Follow == 2 && C < 0x800) || (C >= 0xD800 && C <= 0xDFFF))
    return false;
  *Character = static_cast<CHAR16>(C);
  return true;
}

UINTN WideStringLength(const CHAR16 *Text) {
  UINTN Length = 0;
  while (Text[Length] != 0)
    Length++;
  return Length;
}

bool SameWithoutCase(const CHAR16 *A, const CHAR16 *B) {
  for (; *A != 0 && *B != 0; A++, B++) {
    if (LowerAscii(*A) != LowerAscii(*B))
      return false;
  }
  return *A == *B;
}

INTN CompareWideStrings(const CHAR16 *A, const CHAR16 *B) {
  while (*A != 0 && *A == *B) {
    A++;
    B++;
  }
  return static_cast<INTN>(*A) - static_cast<INTN>(*B);
}
