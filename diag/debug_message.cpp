// Debug messages: the level mask the platform sets, and one formatted text sent to the trace hub
// and to the debug UART.
#include "diag/debug_message.h"

#include "diag/debug_uart.h"
#include "diag/hardware_access.h"
#include "diag/platform_identity.h"
#include "diag/trace_hub.h"

namespace {

// The level selector: a register in the memory window of bus 0, device 13, function 3.
constexpr UINT32 LevelSelectDevice = 13;
constexpr UINT32 LevelSelectFunction = 3;
constexpr UINT32 LevelSelectRegister = 0x1408;
constexpr UINT32 LevelSelectErrors = 1;

constexpr UINT32 DebugMessageBufferSize = 256;
constexpr UINT32 DebugTraceSeverity = 0;

UINT64 TextLength(const CHAR8 *Text, UINT64 Limit) {
  UINT64 Length = 0;
  while (Length < Limit && Text[Length] != 0)
    Length++;
  return Length;
}

} // namespace

UINT64 CurrentDebugLevelMask() {
  UINT64 Config = EcamAddress(0, LevelSelectDevice, LevelSelectFunction);
  UINT32 Register = MmioRead32(Config + PciBar0Register);
  UINT32 Window = Register & ~PciBarFlagMask;
  if (Window == 0 || Window == PciBarAbsent ||
      EcamWindowAbove4GiB(Config, PciBar0Register, Register))
    return DefaultDebugLevelMask;
  if (MmioRead32(static_cast<UINT64>(Window) + LevelSelectRegister) == LevelSelectErrors)
    return DebugLevelError;
  return DefaultDebugLevelMask;
}

VOID EmitDebugMessageArgs(UINT64 Level, const CHAR8 *Format, FormatArgList Arguments) {
  // Messages the mask drops are not even formatted.
  if ((Level & CurrentDebugLevelMask()) == 0 || Format == nullptr)
    return;
  // Both outputs are hardware writes: nothing goes out off a supported Tarn board.
  if (!IsSupportedTarnBoard())
    return;
  CHAR8 Buffer[DebugMessageBufferSize];
  Buffer[0] = 0;
  Buffer[DebugMessageBufferSize - 1] = 0;
  FormatEngine(Buffer, DebugMessageBufferSize, 0, Format, Arguments);
  SendDebugTrace(DebugTraceSeverity, Buffer, TextLength(Buffer, DebugMessageBufferSize - 1));
  DebugUartWrite(reinterpret_cast<const UINT8 *>(Buffer),
                 TextLength(Buffer, DebugMessageBufferSize - 1));
}
