// Pool buffers and the small byte and string helpers every layer uses.
#pragma once

#include "uefi/uefi.h"

// One AllocatePool of EfiBootServicesData; null when the firmware refuses. The owner releases it
// with FreeBuffer (FreePool).
VOID *AllocateBuffer(UINTN Size);
VOID *AllocateZeroedBuffer(UINTN Size);
VOID FreeBuffer(VOID *Buffer);

// A pool buffer owned by the scope that holds it: given back to the firmware when that scope is
// left, on whichever path. Release hands it to an owner that outlives the scope. Owners declared
// later in a scope are released first, so the order of release is the reverse of taking.
template <typename T> class PoolPtr {
public:
  PoolPtr() = default;
  explicit PoolPtr(T *Adopted) : Data(Adopted) {}
  ~PoolPtr() { FreeBuffer(Data); }
  PoolPtr(const PoolPtr &) = delete;
  PoolPtr &operator=(const PoolPtr &) = delete;
  PoolPtr(PoolPtr &&Other) : Data(Other.Release()) {}
  PoolPtr &operator=(PoolPtr &&Other) {
    Reset(Other.Release());
    return *this;
  }
  // Count elements, uninitialised or zeroed; null when the firmware refuses.
  static PoolPtr Allocate(UINTN Count) {
    return PoolPtr(static_cast<T *>(AllocateBuffer(Count * sizeof(T))));
  }
  static PoolPtr AllocateZeroed(UINTN Count) {
    return PoolPtr(static_cast<T *>(AllocateZeroedBuffer(Count * sizeof(T))));
  }
  T *Get() const { return Data; }
  T *operator->() const { return Data; }
  T &operator[](UINTN Index) const { return Data[Index]; }
  T *Release() {
    T *Kept = Data;
    Data = nullptr;
    return Kept;
  }
  VOID Reset(T *Adopted = nullptr) {
    FreeBuffer(Data);
    Data = Adopted;
  }
  explicit operator bool() const { return Data != nullptr; }

private:
  T *Data = nullptr;
};

// Copies Count bytes; overlapping ranges are handled.
VOID *CopyBytes(VOID *Destination, const VOID *Source, UINTN Count);
VOID ZeroBytes(VOID *Buffer, UINTN Count);
// True when all Count bytes are zero (also for a Count of 0).
bool AllBytesZero(const VOID *Buffer, UINTN Count);
// True when the first Count bytes of A and B are the same.
bool BytesEqual(const VOID *A, const VOID *B, UINTN Count);
// The UTF-8 character at Bytes[*At] of Size bytes, moving *At past it: one of up to U+FFFF in its
// shortest form and no surrogate, or false for anything else (beyond UCS-2, or not UTF-8).
bool DecodeUtf8(const UINT8 *Bytes, UINTN Size, UINTN *At, CHAR16 *Character);
// The characters of a UCS-2 string before its NUL.
UINTN WideStringLength(const CHAR16 *Text);
// Difference of the first differing UCS-2 characters, 0 when the strings are equal.
INTN CompareWideStrings(const CHAR16 *A, const CHAR16 *B);
// C with an ASCII capital as its small letter, every other character as it is: the one case fold
// of option words, file names as FAT compares them, and the tool's own words.
inline CHAR16 LowerAscii(CHAR16 C) {
  return C >= u'A' && C <= u'Z' ? static_cast<CHAR16>(C - u'A' + u'a') : C;
}
// Texts compared without regard to ASCII case (LowerAscii), as a FAT volume compares file names.
bool SameWithoutCase(const CHAR16 *A, const CHAR16 *B);
