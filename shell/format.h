// The format engine: "%" directives and line ends expanded into a caller's buffer, 8-bit or
// UCS-2 format into 8-bit or UCS-2 output, always cut at the buffer's end and NUL-terminated.
//
// Arguments are not read blindly from a va_list: every call site builds an in-order list of
// 64-bit slots, each tagged with the kind of value it was built from. A directive takes the next
// slot; a slot whose kind does not fit (an integer where a string pointer is expected, or a slot
// beyond the end of the list) reads as a null pointer or as 0, so a wrong format can print a
// wrong value but can never dereference a wrong one.
#pragma once

#include "uefi/uefi.h"

// Bits of the engine's flag word.
constexpr UINT64 FormatLeftJustify = 0x0001;
constexpr UINT64 FormatSignPrefix = 0x0002;
constexpr UINT64 FormatBlankPrefix = 0x0004;
constexpr UINT64 FormatCommaGroups = 0x0008;
constexpr UINT64 FormatLongValue = 0x0010;
constexpr UINT64 FormatZeroFill = 0x0020;
constexpr UINT64 FormatWideOutput = 0x0040;
constexpr UINT64 FormatHexRadix = 0x0080;
constexpr UINT64 FormatWideFormat = 0x0100;
constexpr UINT64 FormatWidthGiven = 0x0200;
constexpr UINT64 FormatWideArgument = 0x0400;
constexpr UINT64 FormatPrecisionGiven = 0x0800;
constexpr UINT64 FormatReversedArgument = 0x1000;
// Reserved for counting without writing: it survives from one format element to the next like
// the caller's two choices, but this engine offers no such mode and always writes.
constexpr UINT64 FormatCountOnly = 0x2000;
constexpr UINT64 FormatUnsignedValue = 0x4000;

enum class FormatArgKind : UINT8 {
  Integer,    // any integer, sign- or zero-extended to 64 bits as its type says
  NarrowText, // const CHAR8 * / const UINT8 *
  WideText,   // const CHAR16 *
  Guid,       // const EFI_GUID *
  Time,       // const EFI_TIME *
  Pointer,    // any other pointer (usable by numeric directives such as %p)
};

struct FormatArg {
  UINT64 Value;
  FormatArgKind Kind;
};

struct FormatArgList {
  const FormatArg *Items;
  UINT64 Count;
};

// Slot builders, one per argument type the callers pass.
inline FormatArg MakeFormatArg(const CHAR8 *P) {
  return {reinterpret_cast<UINT64>(P), FormatArgKind::NarrowText};
}
inline FormatArg MakeFormatArg(const UINT8 *P) {
  return {reinterpret_cast<UINT64>(P), FormatArgKind::NarrowText};
}
inline FormatArg MakeFormatArg(const CHAR16 *P) {
  return {reinterpret_cast<UINT64>(P), FormatArgKind::WideText};
}
inline FormatArg MakeFormatArg(const EFI_GUID *P) {
  return {reinterpret_cast<UINT64>(P), FormatArgKind::Guid};
}
inline FormatArg MakeFormatArg(const EFI_TIME *P) {
  return {reinterpret_cast<UINT64>(P), FormatArgKind::Time};
}
inline FormatArg MakeFormatArg(const VOID *P) {
  return {reinterpret_cast<UINT64>(P), FormatArgKind::Pointer};
}
inline FormatArg MakeFormatArg(decltype(nullptr)) {
  return {0, FormatArgKind::Pointer};
}
inline FormatArg MakeFormatArg(bool V) {
  return {V ? 1u : 0u, FormatArgKind::Integer};
}
inline FormatArg MakeFormatArg(char16_t V) {
  return {V, FormatArgKind::Integer};
}
inline FormatArg MakeFormatArg(signed char V) {
  return {static_cast<UINT64>(static_cast<INT64>(V)), FormatArgKind::Integer};
}
inline FormatArg MakeFormatArg(unsigned char V) {
  return {V, FormatArgKind::Integer};
}
inline FormatArg MakeFormatArg(short V) {
  return {static_cast<UINT64>(static_cast<INT64>(V)), FormatArgKind::Integer};
}
inline FormatArg MakeFormatArg(unsigned short V) {
  return {V, FormatArgKind::Integer};
}
inline FormatArg MakeFormatArg(int V) {
  return {static_cast<UINT64>(static_cast<INT64>(V)), FormatArgKind::Integer};
}
inline FormatArg MakeFormatArg(unsigned int V) {
  return {V, FormatArgKind::Integer};
}
inline FormatArg MakeFormatArg(long V) {
  return {static_cast<UINT64>(static_cast<INT64>(V)), FormatArgKind::Integer};
}
inline FormatArg MakeFormatArg(unsigned long V) {
  return {V, FormatArgKind::Integer};
}
inline FormatArg MakeFormatArg(long long V) {
  return {static_cast<UINT64>(V), FormatArgKind::Integer};
}
inline FormatArg MakeFormatArg(unsigned long long V) {
  return {static_cast<UINT64>(V), FormatArgKind::Integer};
}
// Enumerations print as their underlying integer, extended as that type says.
template <typename E>
requires(__is_enum(E)) inline FormatArg MakeFormatArg(E V) {
  return MakeFormatArg(static_cast<__underlying_type(E)>(V));
}

// A format and how many of its bytes may be read. A format whose storage is known at compile time
// (every literal) carries its size, so its plain text can be copied a word at a time without
// ever reading past its end; a format known only by its address carries 0 and is read one
// character at a time up to its NUL.
struct FormatSource {
  const VOID *Text;
  UINT64 Readable;
};

// The source of a format of Unit characters (VOID: either width): an array brings its size, a
// pointer none. Anything that is not a format of that width does not compile.
template <typename Unit, typename F> constexpr FormatSource MakeFormatSource(const F &Format) {
  const Unit *Text = Format;
  if constexpr (__is_array(F))
    return {Text, sizeof(F)};
  else
    return {Text, 0};
}

// Expands Format into Buffer (BufferSize characters, the NUL included). Returns the number of
// characters written before the NUL. BufferSize 0 writes nothing.
UINT64 FormatEngine(VOID *Buffer, UINT64 BufferSize, UINT64 Flags, const FormatSource &Format,
                    FormatArgList Arguments);
inline UINT64 FormatEngine(VOID *Buffer, UINT64 BufferSize, UINT64 Flags, const VOID *Format,
                           FormatArgList Arguments) {
  return FormatEngine(Buffer, BufferSize, Flags, FormatSource{Format, 0}, Arguments);
}

// Writes Character Count times from Position, Step bytes apart: its low byte and, when Step is
// 2, bits 8-15 in the next byte. A character is written only when all its Step bytes lie below
// End. Returns the position after the last write.
UINT8 *FillChars(UINT8 *Position, UINT8 *End, INT64 Count, UINT16 Character, UINT64 Step);

// The wrappers below are split in two: the outer one, always inlined, turns the format into its
// source (address and, for an array, size); the inner one depends only on the argument types.
// A wrapper instantiated per format length would otherwise sit in the image once per message.
#define KESTREL_FORMAT_WRAPPER __attribute__((always_inline)) inline

template <typename... T>
UINT64 FormatWithSource(VOID *Buffer, UINT64 BufferSize, UINT64 Flags, const FormatSource &Format,
                        const T &...Values) {
  const FormatArg Items[sizeof...(T) + 1] = {MakeFormatArg(Values)..., {0, FormatArgKind::Integer}};
  return FormatEngine(Buffer, BufferSize, Flags, Format, FormatArgList{Items, sizeof...(T)});
}

template <typename F, typename... T>
KESTREL_FORMAT_WRAPPER UINT64 FormatWithFlags(VOID *Buffer, UINT64 BufferSize, UINT64 Flags,
                                              const F &Format, const T &...Values) {
  return FormatWithSource(Buffer, BufferSize, Flags, MakeFormatSource<VOID>(Format), Values...);
}

// 8-bit format into an 8-bit buffer of BufferSize bytes.
template <typename F, typename... T>
KESTREL_FORMAT_WRAPPER UINT64 FormatToAscii(CHAR8 *Buffer, UINT64 BufferSize, const F &Format,
                                            const T &...Values) {
  return FormatWithSource(Buffer, BufferSize, 0, MakeFormatSource<CHAR8>(Format), Values...);
}
