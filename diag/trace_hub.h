// The trace-hub message encoder: turns a debug text into one record of the hub's software-trace
// protocol and delivers it as a sequence of stores of exact widths into a trace channel's
// registers. The hub assembles the record from the order and widths of those stores.
#pragma once

#include "uefi/uefi.h"

struct TraceHandle;
struct TraceMessage;
struct TraceState;

// One step of a record program: which item of a TraceMessage to emit, and how.
struct ScatterStep {
  UINT8 Kind;
  UINT8 Offset; // of the item in the TraceMessage, in bytes
  UINT16 Count;
};
static_assert(sizeof(ScatterStep) == 4, "ScatterStep layout");

// Step kinds: 1, 2, 4, 8 emit Count values of that many bytes; ScatterIndirect emits Count bytes
// from the address held at Offset in the widest stores that fit; ScatterEnd ends a program.
constexpr UINT8 ScatterBytes8 = 1;
constexpr UINT8 ScatterBytes16 = 2;
constexpr UINT8 ScatterBytes32 = 4;
constexpr UINT8 ScatterBytes64 = 8;
constexpr UINT8 ScatterIndirect = 0x10;
constexpr UINT8 ScatterEnd = 0xFF;

// Where a record was produced from: a format byte (bit 0: 64-bit address) and the address.
struct TraceLocation {
  UINT8 Format;
  UINT64 Address; // a 32-bit location uses the first 4 bytes
};
static_assert(sizeof(TraceLocation) == 16 && offsetof(TraceLocation, Address) == 8,
              "TraceLocation layout");

constexpr UINT32 TracePayloadInlineSize = 24;

// The descriptor a record program reads its items from.
struct TraceMessage {
  UINT32 Header;
  EFI_GUID Origin;
  UINT32 Sequence;
  TraceLocation Location;
  UINT16 Length;
  union {
    UINT8 Inline[TracePayloadInlineSize];
    const UINT8 *Pointer;
  } Payload;
};
static_assert(offsetof(TraceMessage, Origin) == 4 && offsetof(TraceMessage, Sequence) == 20 &&
                  offsetof(TraceMessage, Location) == 24 && offsetof(TraceMessage, Length) == 40 &&
                  offsetof(TraceMessage, Payload) == 48 && sizeof(TraceMessage) == 72,
              "the step table names these offsets");

// The store operations for the hardware at hand, chosen when a TraceState is set up.
struct TraceWriterOps {
  VOID (*Bind)(TraceHandle *Handle, const VOID *PlatformData);
  VOID (*Release)(TraceHandle *Handle);
  VOID (*WriteRecord)(TraceHandle *Handle, const ScatterStep *Program, const TraceMessage *Message);
  VOID (*FirstWord)(TraceHandle *Handle, UINT32 Value);
  VOID (*AltFirstWord)(TraceHandle *Handle, UINT32 Value);
  VOID (*Data8)(TraceHandle *Handle, UINT8 Value);
  VOID (*Data16)(TraceHandle *Handle, UINT16 Value);
  VOID (*Data32)(TraceHandle *Handle, UINT32 Value);
  VOID (*Data64)(TraceHandle *Handle, UINT64 Value);
  VOID (*End)(TraceHandle *Handle);
};

struct TraceState {
  UINT32 Version;  // 0x00010400; informational only
  UINT32 Reserved; // 0xFFFFFFFF; informational only
  TraceWriterOps Ops;
  const VOID *PlatformData;
};

struct TraceHandle {
  TraceState *State;
  UINT32 Flags;          // bit 0: the caller owns the storage
  UINT32 HeaderTemplate; // header bits every record starts from
  EFI_GUID Origin;       // sent when the header's origin field is TraceOriginGuidFollows
  UINT32 Sequence;       // next sequence number
  const VOID *PlatformData;
  UINT32 Master;
  UINT32 Channel;
};

// The channel a sender writes to: master and channel number.
struct TracePlatformData {
  UINT32 Master;
  UINT32 Channel;
};

// Record header fields.
constexpr UINT32 TraceHeaderTypeMask = 0x0000000F;
constexpr UINT32 TraceTypeString = 2;
constexpr UINT32 TraceHeaderSeverityShift = 4;
constexpr UINT32 TraceHeaderSeverityMask = 0x00000070;
constexpr UINT32 TraceHeaderSequence = 1u << 7;
constexpr UINT32 TraceHeaderLocation = 1u << 8;
constexpr UINT32 TraceHeaderLength = 1u << 9;
constexpr UINT32 TraceHeaderCrc = 1u << 10;
constexpr UINT32 TraceHeaderOriginSubMask = 0x0000F000;
constexpr UINT32 TraceHeaderOriginShift = 16;
constexpr UINT32 TraceHeaderOriginMask = 0x00FF0000;
constexpr UINT32 TraceOriginGuidFollows = 0xFF;
constexpr UINT32 TraceHeaderSubtypeShift = 24;
constexpr UINT32 TraceHeaderSubtypeMask = 0xFF000000;

// Registers of a trace channel, from the channel address.
constexpr UINT64 TraceChannelData = 0x00;
constexpr UINT64 TraceChannelFirstWord = 0x10;
constexpr UINT64 TraceChannelAltFirstWord = 0x18;
constexpr UINT64 TraceChannelEnd = 0x30;

// Shared state used when an operation is given none, and the handle that stands for none.
extern TraceState DefaultTraceState;
extern TraceHandle NullTraceHandle;

// Sends Text (Length bytes, cut to 16 bits) as one debug record. Always returns 0.
EFI_STATUS SendDebugTrace(UINT32 Severity, const CHAR8 *Text, UINT64 Length);

using TracePlatformHook = VOID (*)(TraceState *State, const VOID *PlatformData);

VOID InitTraceState(TraceState *State, TracePlatformHook Hook, const VOID *PlatformData);
// The hook for a hub reached through the platform's trace channel: real stores when the hub is
// there (the platform's vendor ID and a window), stores that do nothing when it is not.
VOID InstallTraceHubWriters(TraceState *State, const VOID *PlatformData);
TraceHandle *InitTraceHandle(TraceState *State, TraceHandle *Handle, const VOID *PlatformData,
                             UINT32 OwnStorage);
// PlatformData is a TracePlatformData.
VOID BindTraceChannel(TraceHandle *Handle, const VOID *PlatformData);
// Location may be null; Text need not be zero-terminated when Length is not 0.
VOID WriteTraceString(TraceHandle *Handle, const TraceLocation *Location, UINT8 Subtype,
                      UINT32 Severity, UINT16 Length, const CHAR8 *Text);
VOID WriteScatterRecord(TraceHandle *Handle, const ScatterStep *Program,
                        const TraceMessage *Message);
// Address of the software-trace channel, 0 without a trace hub. Master and channel select
// nothing on this platform: the channel is fixed.
UINT32 TraceChannelAddress(UINT32 Master, UINT32 Channel);
