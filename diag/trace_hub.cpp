// Trace-hub record encoder: state and handle set-up, the record program built for a text, and
// the program's execution as channel stores with the optional CRC-32.
#include "diag/trace_hub.h"

#include "diag/hardware_access.h"
#include "diag/platform_constants.h"
#include "shell/byte_order.h"

TraceState DefaultTraceState;
TraceHandle NullTraceHandle;

namespace {

// The trace hub: bus 0, device 0, function 2; its software-trace window base is in configuration
// register 0x18, and the channel this platform uses sits at a fixed offset in that window.
constexpr UINT32 TraceHubDevice = 0;
constexpr UINT32 TraceHubFunction = 2;
constexpr UINT32 TraceHubWindowRegister = 0x18;
constexpr UINT32 TraceChannelOffset = 0x340;
constexpr UINT64 TraceChannelSpan = TraceChannelEnd + sizeof(UINT32);
constexpr UINT64 FourGiB = 0x100000000ull;
constexpr UINT32 TraceProbeMaster = 0xFF;
constexpr UINT32 TraceProbeChannel = 0xFF;

constexpr UINT32 TraceStateVersion = 0x00010400;
constexpr UINT32 TraceStateReserved = 0xFFFFFFFF;
constexpr UINT32 TraceHandleOwnStorage = 0x1;

// The debug channel of this platform and the origin its records carry.
constexpr TracePlatformData DebugTraceChannel = {256, 13};
constexpr EFI_GUID DebugTraceOrigin = {
    0x23A3E7BA, 0x75D1, 0x4CB9, {0x9C, 0x8F, 0x56, 0xFA, 0x4E, 0x48, 0xD9, 0x9E}};
constexpr UINT8 DebugTraceSubtype = 1;

constexpr UINT8 LocationFormat64 = 0x1;

// Rows of the step table that records copy from.
enum TraceStepRow : UINT32 {
  StepOrigin = 0,
  StepSequence = 1,
  StepLocationFormat = 2,
  StepLocation32 = 3,
  StepLocation64 = 4,
  StepLength = 5,
  StepInlinePayload = 6,
  StepPayloadPointer = 7,
  StepProgramEnd = 15,
  StepTableRows = 16,
};

// Rows 8 to 14 are spare (kind 0: passed over).
constexpr ScatterStep StepTable[StepTableRows] = {
    {ScatterBytes64, offsetof(TraceMessage, Origin), 2},
    {ScatterBytes32, offsetof(TraceMessage, Sequence), 1},
    {ScatterBytes8, offsetof(TraceMessage, Location) + offsetof(TraceLocation, Format), 1},
    {ScatterBytes32, offsetof(TraceMessage, Location) + offsetof(TraceLocation, Address), 1},
    {ScatterBytes64, offsetof(TraceMessage, Location) + offsetof(TraceLocation, Address), 1},
    {ScatterBytes16, offsetof(TraceMessage, Length), 1},
    {ScatterBytes64, offsetof(TraceMessage, Payload), TracePayloadInlineSize / 8},
    {ScatterIndirect, offsetof(TraceMessage, Payload), 0},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {ScatterEnd, 0, 0},
};

// Room for the longest program one record needs: origin, sequence, location format and address,
// length, payload, end.
constexpr UINT32 TraceProgramCapacity = 8;

// --- CRC-32 (IEEE 802.3, reflected) -------------------------------------------------------------

constexpr UINT32 CrcPolynomial = 0xEDB88320;
constexpr UINT32 CrcInitial = 0xFFFFFFFF;

// The CRC is taken four bits at a time: a 16-entry table (64 bytes of image instead of the
// 1 KiB of a byte table) for two lookups a byte. Records are short and rare; size wins.
struct CrcNibbleTable {
  UINT32 Entries[16];
};

constexpr CrcNibbleTable MakeCrcNibbleTable() {
  CrcNibbleTable Table{};
  for (UINT32 Index = 0; Index < 16; Index++) {
    UINT32 Value = Index;
    for (int Bit = 0; Bit < 4; Bit++)
      Value = (Value & 1) ? (Value >> 1) ^ CrcPolynomial : Value >> 1;
    Table.Entries[Index] = Value;
  }
  return Table;
}

constexpr CrcNibbleTable Crc32Nibbles = MakeCrcNibbleTable();

constexpr UINT32 CrcByte(UINT32 Crc, UINT8 Byte) {
  Crc ^= Byte;
  Crc = Crc32Nibbles.Entries[Crc & 0xF] ^ (Crc >> 4);
  return Crc32Nibbles.Entries[Crc & 0xF] ^ (Crc >> 4);
}

constexpr UINT32 CrcOfCheckString() {
  UINT32 Crc = CrcInitial;
  for (const CHAR8 *Text = "123456789"; *Text != 0; Text++)
    Crc = CrcByte(Crc, static_cast<UINT8>(*Text));
  return Crc ^ CrcInitial;
}
static_assert(CrcOfCheckString() == 0xCBF43926, "standard CRC-32 check value");

// --- Channel stores ------------------------------------------------------------------------------

UINT64 ChannelOf(const TraceHandle *Handle) {
  return TraceChannelAddress(Handle->Master, Handle->Channel);
}

// One store of a record, to the register at Offset of the channel, skipped once the hub is gone.
template <typename T, UINT64 Offset> VOID HubStore(TraceHandle *Handle, T Value) {
  UINT64 Channel = ChannelOf(Handle);
  if (Channel == 0)
    return;
  if constexpr (sizeof(T) == 1)
    MmioWrite8(Channel + Offset, Value);
  else if constexpr (sizeof(T) == 2)
    MmioWrite16(Channel + Offset, Value);
  else if constexpr (sizeof(T) == 4)
    MmioWrite32(Channel + Offset, Value);
  else
    MmioWrite64(Channel + Offset, Value);
}
VOID HubEnd(TraceHandle *Handle) {
  HubStore<UINT32, TraceChannelEnd>(Handle, 0);
}

// Whether the function in the trace hub's place is the platform's own. On another machine that
// place may hold anything, and a window register there says nothing about where a trace channel
// is: stores into it would land in a device nobody identified.
bool PlatformTraceHub() {
  return MmioRead16(EcamAddress(0, TraceHubDevice, TraceHubFunction) + PciVendorIdRegister) ==
         PlatformVendorId;
}

template <typename T> VOID StoreNothing(TraceHandle *, T) {}
VOID DoNothing(TraceHandle *) {}

// --- Record writing ------------------------------------------------------------------------------

// Runs the stores of one record and, when asked, the CRC over every byte stored.
struct RecordWriter {
  TraceHandle *Handle;
  const TraceWriterOps *Ops;
  bool CrcOn;
  UINT32 Crc;

  VOID Feed(UINT64 Value, UINT32 Size) {
    if (!CrcOn)
      return;
    for (UINT32 Index = 0; Index < Size; Index++)
      Crc = CrcByte(Crc, static_cast<UINT8>(Value >> (8 * Index)));
  }

  // One data store of Size bytes (1, 2, 4 or 8).
  VOID Data(UINT64 Value, UINT32 Size) {
    Feed(Value, Size);
    switch (Size) {
    case 1:
      if (Ops->Data8)
        Ops->Data8(Handle, static_cast<UINT8>(Value));
      break;
    case 2:
      if (Ops->Data16)
        Ops->Data16(Handle, static_cast<UINT16>(Value));
      break;
    case 4:
      if (Ops->Data32)
        Ops->Data32(Handle, static_cast<UINT32>(Value));
      break;
    default:
      if (Ops->Data64)
        Ops->Data64(Handle, Value);
      break;
    }
  }

  // Count bytes from Bytes in the widest stores that fit.
  VOID SendBytes(const UINT8 *Source, UINT32 Count) {
    UINT32 Done = 0;
    while (Count - Done >= 8) {
      Data(LoadLe(Source + Done, 8), 8);
      Done += 8;
    }
    for (UINT32 Size = 4; Size > 0; Size /= 2) {
      if (Count - Done >= Size) {
        Data(LoadLe(Source + Done, Size), Size);
        Done += Size;
      }
    }
  }

  VOID RunStep(const ScatterStep &Step, const UINT8 *Message) {
    switch (Step.Kind) {
    case ScatterBytes8:
    case ScatterBytes16:
    case ScatterBytes32:
    case ScatterBytes64: {
      // Steps reach only into the message itself.
      if (Step.Offset + static_cast<UINT32>(Step.Count) * Step.Kind > sizeof(TraceMessage))
        return;
      for (UINT32 Index = 0; Index < Step.Count; Index++)
        Data(LoadLe(Message + Step.Offset + Index * Step.Kind, Step.Kind), Step.Kind);
      return;
    }
    case ScatterIndirect: {
      if (Step.Offset + sizeof(const UINT8 *) > sizeof(TraceMessage))
        return;
      const auto *Source = reinterpret_cast<const UINT8 *>(
          static_cast<UINTN>(LoadLe(Message + Step.Offset, sizeof(const UINT8 *))));
      if (Source != nullptr)
        SendBytes(Source, Step.Count);
      return;
    }
    default:
      return; // unknown kinds are passed over
    }
  }
};

} // namespace

EFI_STATUS SendDebugTrace(UINT32 Severity, const CHAR8 *Text, UINT64 Length) {
  TraceState State = {};
  TraceHandle Handle = {};
  InitTraceState(&State, InstallTraceHubWriters, nullptr);
  InitTraceHandle(&State, &Handle, &DebugTraceChannel, 1);
  Handle.HeaderTemplate =
      (Handle.HeaderTemplate & ~(TraceHeaderOriginMask | TraceHeaderOriginSubMask)) |
      (TraceOriginGuidFollows << TraceHeaderOriginShift);
  Handle.Origin = DebugTraceOrigin;
  WriteTraceString(&Handle, nullptr, DebugTraceSubtype, Severity, static_cast<UINT16>(Length),
                   Text);
  return EFI_SUCCESS;
}

VOID InitTraceState(TraceState *State, TracePlatformHook Hook, const VOID *PlatformData) {
  if (State == nullptr)
    State = &DefaultTraceState;
  *State = {};
  State->Version = TraceStateVersion;
  State->Reserved = TraceStateReserved;
  State->Ops.WriteRecord = WriteScatterRecord;
  NullTraceHandle = {};
  if (Hook != nullptr)
    Hook(State, PlatformData);
}

VOID InstallTraceHubWriters(TraceState *State, const VOID *PlatformData) {
  if (State == nullptr)
    return;
  TraceWriterOps &Ops = State->Ops;
  Ops.Bind = BindTraceChannel;
  Ops.Release = DoNothing;
  Ops.FirstWord = HubStore<UINT32, TraceChannelFirstWord>;
  Ops.AltFirstWord = HubStore<UINT32, TraceChannelAltFirstWord>;
  Ops.Data8 = HubStore<UINT8, TraceChannelData>;
  Ops.Data16 = HubStore<UINT16, TraceChannelData>;
  Ops.Data32 = HubStore<UINT32, TraceChannelData>;
  Ops.Data64 = HubStore<UINT64, TraceChannelData>;
  Ops.End = HubEnd;
  State->PlatformData = PlatformData;
  if (PlatformTraceHub() && TraceChannelAddress(TraceProbeMaster, TraceProbeChannel) != 0)
    return;
  // No hub of ours: every record is dropped without touching the bus.
  Ops.FirstWord = StoreNothing<UINT32>;
  Ops.AltFirstWord = StoreNothing<UINT32>;
  Ops.Data8 = StoreNothing<UINT8>;
  Ops.Data16 = StoreNothing<UINT16>;
  Ops.Data32 = StoreNothing<UINT32>;
  Ops.Data64 = StoreNothing<UINT64>;
  Ops.End = DoNothing;
}

TraceHandle *InitTraceHandle(TraceState *State, TraceHandle *Handle, const VOID *PlatformData,
                             UINT32 OwnStorage) {
  if (Handle == nullptr)
    return &NullTraceHandle;
  if (State == nullptr)
    State = &DefaultTraceState;
  Handle->State = State;
  Handle->Flags =
      (Handle->Flags & ~TraceHandleOwnStorage) | (OwnStorage ? TraceHandleOwnStorage : 0);
  Handle->Sequence = 0;
  if (State->Ops.Bind != nullptr)
    State->Ops.Bind(Handle, PlatformData);
  return Handle;
}

VOID BindTraceChannel(TraceHandle *Handle, const VOID *PlatformData) {
  if (Handle == nullptr)
    return;
  Handle->PlatformData = PlatformData;
  if (PlatformData == nullptr)
    return;
  const auto *Channel = static_cast<const TracePlatformData *>(PlatformData);
  Handle->Master = Channel->Master;
  Handle->Channel = Channel->Channel;
}

VOID WriteTraceString(TraceHandle *Handle, const TraceLocation *Location, UINT8 Subtype,
                      UINT32 Severity, UINT16 Length, const CHAR8 *Text) {
  if (Handle == nullptr || Handle == &NullTraceHandle || Handle->State == nullptr)
    return;
  ScatterStep Program[TraceProgramCapacity];
  UINT32 Steps = 0;
  TraceMessage Message = {};

  UINT32 Header = Handle->HeaderTemplate;
  Header = (Header & ~TraceHeaderTypeMask) | TraceTypeString;
  Header = (Header & ~TraceHeaderSubtypeMask) |
           (static_cast<UINT32>(Subtype) << TraceHeaderSubtypeShift);
  Header = (Header & ~TraceHeaderSeverityMask) |
           ((Severity << TraceHeaderSeverityShift) & TraceHeaderSeverityMask);

  if (((Header & TraceHeaderOriginMask) >> TraceHeaderOriginShift) == TraceOriginGuidFollows) {
    Message.Origin = Handle->Origin;
    Program[Steps++] = StepTable[StepOrigin];
  }
  if (Header & TraceHeaderSequence) {
    Message.Sequence = Handle->Sequence++;
    Program[Steps++] = StepTable[StepSequence];
  }
  if (Location != nullptr) {
    Message.Location = *Location;
    Header |= TraceHeaderLocation;
    Program[Steps++] = StepTable[StepLocationFormat];
    Program[Steps++] =
        StepTable[(Location->Format & LocationFormat64) ? StepLocation64 : StepLocation32];
  }

  if (Length != 0) {
    Header |= TraceHeaderLength;
    Message.Length = Length;
    Program[Steps++] = StepTable[StepLength];
    Message.Payload.Pointer = reinterpret_cast<const UINT8 *>(Text);
    Program[Steps] = StepTable[StepPayloadPointer];
    Program[Steps++].Count = Length;
  } else {
    // An empty length sends the text inline, up to and including its zero byte.
    for (UINT32 Index = 0; Text != nullptr && Index < TracePayloadInlineSize; Index++) {
      Message.Payload.Inline[Index] = static_cast<UINT8>(Text[Index]);
      if (Text[Index] == 0)
        break;
    }
    Program[Steps++] = StepTable[StepInlinePayload];
  }
  Program[Steps++] = StepTable[StepProgramEnd];
  Message.Header = Header;

  if (Handle->State->Ops.WriteRecord != nullptr)
    Handle->State->Ops.WriteRecord(Handle, Program, &Message);
}

VOID WriteScatterRecord(TraceHandle *Handle, const ScatterStep *Program,
                        const TraceMessage *Message) {
  if (Handle == nullptr || Handle->State == nullptr || Program == nullptr || Message == nullptr)
    return;
  RecordWriter Writer = {Handle, &Handle->State->Ops,
                         (Handle->HeaderTemplate & TraceHeaderCrc) != 0, CrcInitial};
  Writer.Feed(Message->Header, sizeof(UINT32));
  if (Writer.Ops->FirstWord)
    Writer.Ops->FirstWord(Handle, Message->Header);
  // A program is never longer than the step table, even one that lacks its end step.
  for (UINT32 Index = 0; Index < StepTableRows && Program[Index].Kind != ScatterEnd; Index++)
    Writer.RunStep(Program[Index], reinterpret_cast<const UINT8 *>(Message));
  if (Writer.CrcOn) {
    UINT32 Crc = Writer.Crc ^ CrcInitial;
    if (Writer.Ops->Data32)
      Writer.Ops->Data32(Handle, Crc);
  }
  if (Writer.Ops->End)
    Writer.Ops->End(Handle);
}

UINT32 TraceChannelAddress(UINT32, UINT32) {
  UINT64 Config = EcamAddress(0, TraceHubDevice, TraceHubFunction);
  UINT32 Register = MmioRead32(Config + TraceHubWindowRegister);
  UINT32 Base = Register & ~PciBarFlagMask;
  if (Base == 0 || Base == PciBarAbsent ||
      EcamWindowAbove4GiB(Config, TraceHubWindowRegister, Register))
    return 0;
  // A window whose channel registers would run past 4 GiB cannot be addressed: no hub.
  if (Base + static_cast<UINT64>(TraceChannelOffset) + TraceChannelSpan > FourGiB)
    return 0;
  return Base + TraceChannelOffset;
}
