// Reads and writes of GPP1's block 0, each on the interface the search finds afresh, and what a
// write the device failed left there.
#pragma once

#include "app/board_record.h"
#include "app/gpp1_search.h"
#include "app/write_protection.h"
#include "shell/memory.h"

// What a call on GPP1 did besides its status, for the operation to tell in the run's story: no
// GPP1 found, a block handed to the device, and after a write the device failed, block 0 as read
// once more (Known false when that read failed too, or was not made).
struct Gpp1Visit {
  bool Debug; // asked: the search's and the transfer's --debug lines are shown
  bool Missing;
  bool WriteReached;
  SeenRecord Again;
};

// The whole of block 0, read into a pool buffer it owns.
struct Gpp1Block {
  PoolPtr<UINT8> Pool;
  UINT8 *Data = nullptr;
  UINT32 Size = 0;
};
ToolStatus ReadGpp1Block(Gpp1Block *Block, Gpp1Visit *Visit = nullptr);
// The record at the start of block 0 alone.
ToolStatus ReadGpp1Record(UINT8 *Destination);
// Block 0 written as the record and zeros after it, or as exactly one block (a backup put back).
ToolStatus WriteGpp1Record(const UINT8 *Image, Gpp1Visit *Visit = nullptr);
ToolStatus WriteGpp1Block(const UINT8 *Data, UINT32 Size, Gpp1Visit *Visit = nullptr);

// After a write, its flush or its read-back failed, GPP1 holds the old block, the new one or
// something else. Again is block 0 read once more (Size bytes; null when that read failed too),
// the new block is Data (Length bytes) followed by zeros, Old the block before the write (null
// when unknown). Says which on the console and gives the status: ToolWrittenUnconfirmed (the new
// block), ToolWriteFailedUnchanged (the old one), ToolWrittenUnknown (unreadable, or neither), or
// ToolVerifyFailed when Old is unknown and the block is not the new one: the write did not hold, as
// a verify finds.
ToolStatus JudgeReadOnceMore(const UINT8 *Again, UINT32 Size, const UINT8 *Data, UINTN Length,
                             const UINT8 *Old);
