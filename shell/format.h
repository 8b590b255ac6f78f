// The format engine: "%" directives and line ends expanded into a caller's buffer, 8-bit or
// UCS-2 format into 8-bit or UCS-2 output, always cut at the buffer's end and NUL-terminated.
//
// Arguments are not read blindly from a va_list: every call site builds an in-order list of
// 64-bit slots, each tagged with the kind of value it was built from. A directive takes the next
// slot; a slot whose kind does not fit (an integer where a string pointer is expected, or a slot
// beyond the end of the list) reads as a null pointer or as 0, so a wrong format can print a
// wrong value but can never dereference a wrong one.
//
// Every format of the tool is a literal, and the entries below (FormatToAscii, FormatWithFlags,
// and PrintConsole and EmitDebugMessage built on them) take it as a CheckedFormat: its
// directives are read at compile time, with the engine's own ParseDirective, against the kinds
// of the arguments that follow, so a wrong directive or a missing argument fails the build.
#pragma once

#include "shell/format_directive.h"
#include "uefi/uefi.h"

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

// --- Argument types --------------------------------------------------------------------------

namespace FormatTraits {

template <typename A, typename B> constexpr bool Same = false;
template <typename A> constexpr bool Same<A, A> = true;

template <typename T> struct Plain { using Type = T; };
template <typename T> struct Plain<const T> { using Type = T; };
template <typename T> struct Plain<volatile T> { using Type = T; };
template <typename T> struct Plain<const volatile T> { using Type = T; };

// What an argument of type T passes as (taken by const reference): arrays as pointers to their
// first element, other types without cv.
template <typename T> struct Passed { using Type = typename Plain<T>::Type; };
template <typename T, UINT64 N> struct Passed<T[N]> { using Type = const T *; };

template <typename T> constexpr bool IsPointer = false;
template <typename T> constexpr bool IsPointer<T *> = true;
template <typename T> struct Pointee { using Type = void; };
template <typename T> struct Pointee<T *> { using Type = typename Plain<T>::Type; };

template <typename T>
constexpr bool IsInteger =
    Same<T, bool> || Same<T, char> || Same<T, signed char> || Same<T, unsigned char> ||
    Same<T, char8_t> || Same<T, char16_t> || Same<T, char32_t> || Same<T, wchar_t> ||
    Same<T, short> || Same<T, unsigned short> || Same<T, int> || Same<T, unsigned int> ||
    Same<T, long> || Same<T, unsigned long> || Same<T, long long> || Same<T, unsigned long long>;

// Enumerations pass as their underlying integer.
template <typename T, bool Enum = __is_enum(T)> struct Numeric { using Type = T; };
template <typename T> struct Numeric<T, true> { using Type = __underlying_type(T); };

} // namespace FormatTraits

// The slot an argument of type T fills, as far as the compile-time check tells them apart:
// integers by width (a directive without "l" reads 32 bits), pointers by what they point to.
enum class FormatSlot : UINT8 {
  Integer,     // 32 bits or fewer
  LongInteger, // 64 bits
  NarrowText,
  WideText,
  Guid,
  Time,
  Pointer,
  Unsupported,
};

template <typename T> constexpr FormatSlot SlotOf() {
  using namespace FormatTraits;
  using P = typename Passed<T>::Type;
  if constexpr (IsPointer<P>) {
    using Target = typename Pointee<P>::Type;
    if constexpr (Same<Target, CHAR8> || Same<Target, UINT8>)
      return FormatSlot::NarrowText;
    else if constexpr (Same<Target, CHAR16>)
      return FormatSlot::WideText;
    else if constexpr (Same<Target, EFI_GUID>)
      return FormatSlot::Guid;
    else if constexpr (Same<Target, EFI_TIME>)
      return FormatSlot::Time;
    else
      return FormatSlot::Pointer;
  } else if constexpr (Same<P, decltype(nullptr)>) {
    return FormatSlot::Pointer;
  } else if constexpr (IsInteger<typename Numeric<P>::Type>) {
    return sizeof(P) > sizeof(UINT32) ? FormatSlot::LongInteger : FormatSlot::Integer;
  } else {
    return FormatSlot::Unsupported;
  }
}
template <typename T> constexpr FormatSlot FormatSlotOf = SlotOf<T>();

// The slot of one argument: its value as 64 bits (integers sign- or zero-extended as their type
// says, pointers as their address) and its kind.
template <typename T> FormatArg MakeFormatArg(const T &Value) {
  using namespace FormatTraits;
  constexpr FormatSlot Slot = FormatSlotOf<T>;
  static_assert(Slot != FormatSlot::Unsupported,
                "no directive of the format engine prints this type");
  using P = typename Passed<T>::Type;
  if constexpr (Slot == FormatSlot::Integer || Slot == FormatSlot::LongInteger) {
    using N = typename Numeric<P>::Type;
    const N Number = static_cast<N>(Value);
    if constexpr (static_cast<N>(-1) < static_cast<N>(0))
      return {static_cast<UINT64>(static_cast<INT64>(Number)), FormatArgKind::Integer};
    else
      return {static_cast<UINT64>(Number), FormatArgKind::Integer};
  } else if constexpr (Same<P, decltype(nullptr)>) {
    return {0, FormatArgKind::Pointer};
  } else {
    const P Pointer = Value;
    const UINT64 Address = reinterpret_cast<UINT64>(Pointer);
    if constexpr (Slot == FormatSlot::NarrowText)
      return {Address, FormatArgKind::NarrowText};
    else if constexpr (Slot == FormatSlot::WideText)
      return {Address, FormatArgKind::WideText};
    else if constexpr (Slot == FormatSlot::Guid)
      return {Address, FormatArgKind::Guid};
    else if constexpr (Slot == FormatSlot::Time)
      return {Address, FormatArgKind::Time};
    else
      return {Address, FormatArgKind::Pointer};
  }
}

// --- The compile-time check ------------------------------------------------------------------

// Whether a directive may take a slot: numbers without "l", characters and the "*" values read
// the integers they are given, so a 64-bit integer there would lose its upper half unseen.
constexpr bool SlotFits(FormatTakes Takes, bool Long, FormatSlot Slot) {
  const bool Integer = Slot == FormatSlot::Integer || Slot == FormatSlot::LongInteger;
  switch (Takes) {
  case FormatTakes::Number:
    return Long ? Integer : Slot == FormatSlot::Integer;
  case FormatTakes::Character:
    return Slot == FormatSlot::Integer;
  case FormatTakes::Status:
    return Integer;
  case FormatTakes::Address:
    return Slot != FormatSlot::Unsupported;
  case FormatTakes::NarrowText:
    return Slot == FormatSlot::NarrowText;
  case FormatTakes::WideText:
    return Slot == FormatSlot::WideText;
  case FormatTakes::Guid:
    return Slot == FormatSlot::Guid;
  case FormatTakes::Time:
    return Slot == FormatSlot::Time;
  case FormatTakes::Nothing:
    break;
  }
  return false;
}

enum class FormatFault : UINT8 { None, WrongKind, MissingArgument, ExtraArgument };

struct FormatVerdict {
  FormatFault Fault;
  UINT64 Argument; // the argument (from 1) in question
  UINT64 Offset;   // the format character where the directive in question starts
};

// Walks Length units of a format (its NUL included) as the engine does and matches each slot a
// directive takes against the next of Slots. The units are laid out as bytes first, so the
// engine's FormatReader reads them here exactly as it reads them at run time.
template <typename Unit, UINT64 Length>
constexpr FormatVerdict CheckFormat(const Unit *Text, const FormatSlot *Slots, UINT64 SlotCount) {
  constexpr UINT64 Step = sizeof(Unit);
  UINT8 Bytes[Length * Step] = {};
  for (UINT64 I = 0; I < Length; I++) {
    const UINT16 C = static_cast<UINT16>(Text[I]);
    Bytes[I * Step] = static_cast<UINT8>(C);
    if (Step == 2)
      Bytes[I * Step + 1] = static_cast<UINT8>(C >> 8);
  }
  FormatReader In{Bytes, Step};
  UINT64 Used = 0;
  while (In.Peek() != 0) {
    const UINT64 Offset = static_cast<UINT64>(In.At - Bytes) / Step;
    if (In.Peek() != '%') {
      In.Next();
      continue;
    }
    In.Next();
    const FormatDirective D = ParseDirective(In);
    for (UINT64 I = 0; I < D.Stars; I++, Used++) {
      if (Used >= SlotCount)
        return {FormatFault::MissingArgument, Used + 1, Offset};
      if (!SlotFits(FormatTakes::Number, true, Slots[Used]))
        return {FormatFault::WrongKind, Used + 1, Offset};
    }
    const FormatTakes Takes = ConversionTakes(D.Conversion);
    if (Takes != FormatTakes::Nothing) {
      if (Used >= SlotCount)
        return {FormatFault::MissingArgument, Used + 1, Offset};
      if (!SlotFits(Takes, (D.Flags & FormatLongValue) != 0, Slots[Used]))
        return {FormatFault::WrongKind, Used + 1, Offset};
      Used++;
    }
    if (D.Conversion != 0)
      In.Next();
  }
  if (Used < SlotCount)
    return {FormatFault::ExtraArgument, Used + 1, 0};
  return {FormatFault::None, 0, 0};
}

// Reached only when a literal format does not fit its arguments. FormatCheckFailed is declared
// and never defined, so calling it ends the compile-time evaluation; the compiler's notes then
// show the failing call below with the argument (from 1) and the format character (from 0)
// where the directive in question starts.
VOID FormatCheckFailed();
constexpr VOID FormatDirectiveDoesNotFitArgument(UINT64 Argument, UINT64 DirectiveAt) {
  if (Argument != 0 || DirectiveAt != 0)
    FormatCheckFailed();
}
constexpr VOID FormatDirectiveHasNoArgument(UINT64 Argument, UINT64 DirectiveAt) {
  if (Argument != 0 || DirectiveAt != 0)
    FormatCheckFailed();
}
constexpr VOID FormatHasMoreArgumentsThanDirectives(UINT64 FirstUnused) {
  if (FirstUnused != 0)
    FormatCheckFailed();
}

// A literal format of Unit characters whose directives fit arguments of the kinds Slots.
template <typename Unit, FormatSlot... Slots> struct CheckedFormat {
  template <UINT64 Length> consteval CheckedFormat(const Unit (&Literal)[Length]) : Text(Literal) {
    constexpr FormatSlot SlotList[sizeof...(Slots) + 1] = {Slots..., FormatSlot::Unsupported};
    const FormatVerdict V = CheckFormat<Unit, Length>(Literal, SlotList, sizeof...(Slots));
    if (V.Fault == FormatFault::WrongKind)
      FormatDirectiveDoesNotFitArgument(V.Argument, V.Offset);
    if (V.Fault == FormatFault::MissingArgument)
      FormatDirectiveHasNoArgument(V.Argument, V.Offset);
    if (V.Fault == FormatFault::ExtraArgument)
      FormatHasMoreArgumentsThanDirectives(V.Argument);
  }
  const Unit *Text;
};

// The format types for arguments of the types T: a helper that passes a format on takes one of
// these, built from its caller's literal.
template <typename... T> using AsciiFormat = CheckedFormat<CHAR8, FormatSlotOf<T>...>;
template <typename... T> using UcsFormat = CheckedFormat<CHAR16, FormatSlotOf<T>...>;

// --- The engine ------------------------------------------------------------------------------

// Expands Format into Buffer (BufferSize characters, the NUL included). Returns the number of
// characters written before the NUL. BufferSize 0 writes nothing. The format is 8-bit, or UCS-2
// with FormatWideFormat in Flags, and need not be a literal: this entry is unchecked, and the
// argument slots are all that guards it.
UINT64 FormatEngine(VOID *Buffer, UINT64 BufferSize, UINT64 Flags, const VOID *Format,
                    FormatArgList Arguments);

template <typename Unit, FormatSlot... Slots, typename... T>
UINT64 FormatChecked(VOID *Buffer, UINT64 BufferSize, UINT64 Flags,
                     CheckedFormat<Unit, Slots...> Format, const T &...Values) {
  const FormatArg Items[sizeof...(T) + 1] = {MakeFormatArg(Values)..., {0, FormatArgKind::Integer}};
  // The format's own width is that of its literal.
  Flags = sizeof(Unit) == 2 ? Flags | FormatWideFormat : Flags & ~FormatWideFormat;
  return FormatEngine(Buffer, BufferSize, Flags, Format.Text, FormatArgList{Items, sizeof...(T)});
}

// A literal format, 8-bit or UCS-2, into Buffer with the caller's output width (FormatWideOutput).
template <typename... T>
UINT64 FormatWithFlags(VOID *Buffer, UINT64 BufferSize, UINT64 Flags, AsciiFormat<T...> Format,
                       const T &...Values) {
  return FormatChecked(Buffer, BufferSize, Flags, Format, Values...);
}
template <typename... T>
UINT64 FormatWithFlags(VOID *Buffer, UINT64 BufferSize, UINT64 Flags, UcsFormat<T...> Format,
                       const T &...Values) {
  return FormatChecked(Buffer, BufferSize, Flags, Format, Values...);
}

// 8-bit format into an 8-bit buffer of BufferSize bytes.
template <typename... T>
UINT64 FormatToAscii(CHAR8 *Buffer, UINT64 BufferSize, AsciiFormat<T...> Format,
                     const T &...Values) {
  return FormatChecked(Buffer, BufferSize, 0, Format, Values...);
}
