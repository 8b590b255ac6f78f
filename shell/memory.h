// Pool buffers and the small byte and string helpers every layer uses.
#pragma once

#include "uefi/uefi.h"

// One AllocatePool of EfiBootServicesData; null when the firmware refuses. The owner releases it
// with FreeBuffer (FreePool).
VOID *AllocateBuffer(UINTN Size);
VOID *AllocateZeroedBuffer(UINTN Size);
VOID FreeBuffer(VOID *Buffer);

// Copies Count bytes; overlapping ranges are handled.
VOID *CopyBytes(VOID *Destination, const VOID *Source, UINTN Count);
VOID ZeroBytes(VOID *Buffer, UINTN Count);
// True when all Count bytes are zero (also for a Count of 0).
bool AllBytesZero(const VOID *Buffer, UINTN Count);
// Difference of the first differing UCS-2 characters, 0 when the strings are equal.
INTN CompareWideStrings(const CHAR16 *A, const CHAR16 *B);
