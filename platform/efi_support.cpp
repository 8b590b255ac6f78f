// Compiler support routines for the image. The compiler may turn struct copies and zeroing loops
// into calls to memcpy and memset even in freestanding code; there is no C library in a UEFI
// application, so they live here. The loops go through volatile pointers so the compiler cannot
// turn them back into calls to themselves.
#include <stddef.h>

extern "C" void *memcpy(void *Destination, const void *Source, size_t Count) {
  volatile unsigned char *To = static_cast<volatile unsigned char *>(Destination);
  const volatile unsigned char *From = static_cast<const volatile unsigned char *>(Source);
  for (size_t I = 0; I < Count; I++)
    To[I] = From[I];
  return Destination;
}

extern "C" void *memmove(void *Destination, const void *Source, size_t Count) {
  volatile unsigned char *To = static_cast<volatile unsigned char *>(Destination);
  const volatile unsigned char *From = static_cast<const volatile unsigned char *>(Source);
  if (To < From) {
    for (size_t I = 0; I < Count; I++)
      To[I] = From[I];
  } else {
    for (size_t I = Count; I > 0; I--)
      To[I - 1] = From[I - 1];
  }
  return Destination;
}

extern "C" void *memset(void *Destination, int Value, size_t Count) {
  volatile unsigned char *To = static_cast<volatile unsigned char *>(Destination);
  for (size_t I = 0; I < Count; I++)
    To[I] = static_cast<unsigned char>(Value);
  return Destination;
}

extern "C" int memcmp(const void *A, const void *B, size_t Count) {
  const unsigned char *X = static_cast<const unsigned char *>(A);
  const unsigned char *Y = static_cast<const unsigned char *>(B);
  for (size_t I = 0; I < Count; I++) {
    if (X[I] != Y[I])
      return X[I] - Y[I];
  }
  return 0;
}

// The PE/COFF x64 ABI has the linker look for this symbol when floating point could be used;
// the image uses none, but lld-link still wants it defined.
extern "C" int _fltused = 0;
