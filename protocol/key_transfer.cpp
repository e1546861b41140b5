#include "protocol/key_transfer.h"

#include "protocol/frame.h"

namespace vorsal {

KeyTransferResult SendKeyParts(ExchangeEngine& engine, const std::uint8_t* key32, const KeyTransferHooks& hooks) {
  const auto cancelled = [&] { return hooks.cancelRequested && hooks.cancelRequested(); };
  int acknowledged = 0;
  for (int part = 0; part < KeyPartCount; ++part) {
    if (part > 0 && !engine.PortConnected()) return KeyTransferResult::PortClosed;
    engine.SendFrame(BuildKeyPart(part, key32), RequestPauseMs);
    // Nothing is pumped between the write and this reset, so the current
    // part's acknowledgement cannot be lost to it.
    if (hooks.clearCancel) hooks.clearCancel();
    engine.KeyAckIndex = -2;
    for (int slice = 0; slice < KeyAckWaitSlices; ++slice) {
      if (hooks.awaitAck) {
        hooks.awaitAck(KeyAckSliceMs);
      } else {
        hooks.sleep(KeyAckSliceMs);
      }
      if (hooks.pump) hooks.pump();
      if (cancelled()) return KeyTransferResult::Cancelled;
      if (engine.KeyAckIndex == part) {
        acknowledged = engine.KeyAckIndex + 1;
        if (hooks.progress) hooks.progress(acknowledged);
        break;
      }
      if (!engine.PortConnected()) return KeyTransferResult::PortClosed;
    }
    if (acknowledged != engine.KeyAckIndex + 1) {
      if (!hooks.repeatPart || !hooks.repeatPart(part)) return KeyTransferResult::NotAcknowledged;
      --part;  // the same part once more
    }
  }
  hooks.sleep(KeyTransferFinalPauseMs);
  return KeyTransferResult::Done;
}

}  // namespace vorsal
