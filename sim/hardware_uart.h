// A 16550-compatible UART of the simulated hardware, with byte registers 4 bytes apart in a
// 4 KiB window whose other offsets (the controller's private registers) hold plain values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct SimUart {
  static constexpr uint64_t WindowSize = 0x1000;

  uint64_t Base = 0;
  uint8_t Lcr = 0, Dll = 0, Dlm = 0, Ier = 0, Mcr = 0;
  // Values the line-status register gives, one per read, before it settles on LineStatus.
  std::deque<uint8_t> LineStatusScript;
  uint8_t LineStatus = 0x60; // transmit holding register and transmitter empty
  size_t LineStatusReads = 0;
  std::string Transmitted;          // bytes written to the transmit holding register
  std::vector<uint8_t> FcrWrites;   // every FIFO-control value, in order
  uint8_t Private[WindowSize] = {}; // offsets 0x20 and up

  uint32_t PrivateGet32(uint32_t Offset) const;

  bool Contains(uint64_t Address) const { return Address >= Base && Address < Base + WindowSize; }
  // Accesses at an offset into the window.
  uint64_t Read(uint64_t Offset, uint8_t Width);
  void Write(uint64_t Offset, uint8_t Width, uint64_t Value);

private:
  // The registers that read back what was written (IER or DLM by the divisor latch, LCR, MCR);
  // null for the others.
  uint8_t *Plain(uint64_t Offset);
};
