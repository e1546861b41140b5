// Writing a 32-byte key into the modem: eight CmdKeyPart frames of four key
// bytes each, in order, each followed by a wait for the modem's
// acknowledgement (HandleReply sets KeyAckIndex to the part it echoes). The
// window's transfer dialog and the command-line tool both run this one rule;
// they differ only in how they pause, deliver port events and show progress.
#pragma once

#include "protocol/exchange_engine.h"

#include <cstdint>
#include <functional>

namespace vorsal {

constexpr int KeyAckWaitSlices = 61;  // 6.1 s: longer than the 5 s reply time-out
constexpr int KeyAckSliceMs = 100;
constexpr int KeyTransferFinalPauseMs = 500;

struct KeyTransferHooks {
  std::function<void(int ms)> sleep;           // blocks the calling thread
  std::function<void()> pump;                  // runs pending port events and the receive tick
  std::function<bool()> cancelRequested;       // polled after every slice
  std::function<void()> clearCancel;           // right after each part is sent
  std::function<void(int acknowledged)> progress;  // parts acknowledged so far, 1..8
  // One slice of the wait for an acknowledgement, at most `ms`; returns as
  // soon as the acknowledgement (or a lost port) may be there. Empty: sleep.
  std::function<void(int ms)> awaitAck;
  // Asked when part `part` went unacknowledged; true sends that part again
  // (each part is stored by its index, so a repeat changes nothing else).
  // Empty: the transfer ends there.
  std::function<bool(int part)> repeatPart;
};

enum class KeyTransferResult { Done, NotAcknowledged, Cancelled, PortClosed };

// Sends the parts of `key32` through `engine`. A part counts as acknowledged
// when KeyAckIndex reaches it within KeyAckWaitSlices slices, or when the
// acknowledgement carried the previous part's command byte (KeyAckIndex + 1
// then equals the parts acknowledged so far). The first part that is not
// acknowledged ends the transfer (unless `repeatPart` sends it again); the
// rest are not sent. A port that closes
// after the transfer began (unplugged, or closed as the program ends) ends it
// with PortClosed, during a wait at once: no acknowledgement can come any
// more. A port that was not open at the first part fails that send. After
// the last part the transfer pauses KeyTransferFinalPauseMs. A port failure
// while sending propagates the port's exception. Empty hooks do nothing (pump, progress) or
// never cancel.
KeyTransferResult SendKeyParts(ExchangeEngine& engine, const std::uint8_t* key32, const KeyTransferHooks& hooks);

}  // namespace vorsal
