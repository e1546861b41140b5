#include "production/modem_steps.h"

#include "protocol/frame.h"

namespace vorsal::production {

namespace {

std::string DescribeOutcome(Outcome outcome, const ModemLine& line) {
  switch (outcome) {
    case Outcome::NoReply:
      return "no reply within " + std::to_string(ReplyTimeoutSeconds) + " s";
    case Outcome::NotAccepted:
      return "reply not accepted (wrong echo or another command)";
    case Outcome::PortLost:
      return "port lost: " + line.PortError();
    default:
      return "ok";
  }
}

}  // namespace

Verdict VerdictOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::Ok: return Verdict::Ok;
    case Outcome::NoReply: return Verdict::NoReply;
    case Outcome::NotAccepted: return Verdict::Refused;
    case Outcome::PortLost: return Verdict::PortFailed;
  }
  return Verdict::Refused;
}

JournalRecord Entry(std::string operation, const std::string& port, const std::string& adapter) {
  JournalRecord entry;
  entry.port = port;
  entry.adapter = adapter;
  entry.operation = std::move(operation);
  return entry;
}

void SetOld(JournalRecord& entry, const ModemParams& params) {
  if (params.address < 0) return;
  entry.oldAddress = entry.newAddress = std::to_string(params.address);
  entry.oldNetwork = entry.newNetwork = std::string(NetworkName(params.network));
  entry.firmware = params.firmware;
}

void SetNew(JournalRecord& entry, const ModemParams& params) {
  entry.newAddress = std::to_string(params.address);
  entry.newNetwork = std::string(NetworkName(params.network));
}

std::string NoteWrite(JournalRecord& entry, const AddressWrite& write, int address, int network) {
  if (write.readBack || write.acknowledged) {
    SetNew(entry, write.after);
  } else {
    // Never claim less than the modem may hold.
    entry.newAddress = std::to_string(address);
    entry.newNetwork = std::string(NetworkName(network));
  }
  if (write.Holds(address, network)) return write.message.empty() ? "" : write.message + "; read back: taken";
  std::string message = write.message;
  if (!write.readBack && !write.acknowledged) {
    message += "; not read back: the modem may hold address " + std::to_string(address) + ", " +
               std::string(NetworkName(network)) + " network";
  }
  return message;
}

EndReason ReasonOf(const AddressWrite& write, int address, int network, bool stopped) {
  EndReason reason;
  reason.outcome = write.outcome;
  reason.stopped = stopped && write.outcome == Outcome::NoReply;
  reason.address = address;
  reason.network = network;
  if (write.Holds(address, network)) return reason;
  if (write.written != Outcome::Ok) {
    reason.step = EndStep::AddressWrite;
    reason.mayHold = !write.readBack;
  } else if (write.acknowledged) {
    reason.step = EndStep::ReadBack;
  } else {
    reason.step = EndStep::AddressDiffers;
    reason.address = write.after.address;
    reason.network = write.after.network;
  }
  return reason;
}

std::string ModemSteps::OutcomeText(Outcome outcome, const ModemLine& line) const {
  // An exchange a second stop abandoned never had its full time.
  if (outcome == Outcome::NoReply && Abandoning()) return "stopped before the reply";
  std::string text = DescribeOutcome(outcome, line);
  if (outcome == Outcome::NoReply && retries_ > 0) text += " (" + std::to_string(retries_ + 1) + " attempts)";
  return text;
}

AddressWrite ModemSteps::WriteVerified(ModemLine& line, const ModemParams& current, int address, int network) const {
  AddressWrite result;
  const Outcome written = line.WriteAddress(current, address, network);
  result.written = written;
  if (written != Outcome::Ok) {
    result.outcome = written;
    result.message = "address write: " + OutcomeText(written, line);
  }
  // The read-back verifies a write that was answered and tells what a
  // modem holds after one that was not.
  line.SetAbandon([this] { return StopRequests() >= AbandonReadBack; });
  const Outcome read = line.ReadParams(result.after);
  result.readBack = read == Outcome::Ok;
  if (written == Outcome::Ok) {
    if (!result.readBack) {
      // The write itself was answered: the modem holds the new word even
      // though the verifying read got no answer.
      result.acknowledged = true;
      result.after = current;
      result.after.address = address;
      result.after.network = network;
      result.outcome = read;
      result.message = "read-back: " + OutcomeText(read, line);
    } else if (result.after.address != address || result.after.network != network) {
      result.outcome = Outcome::NotAccepted;
      result.message = "verification failed: the modem reports address " + std::to_string(result.after.address) +
                       " " + std::string(NetworkName(result.after.network));
    }
  }
  return result;
}

std::string ModemSteps::WriteKey(ModemLine& line, const std::uint8_t* key32, const std::function<void(int)>& progress,
                                 std::string& footprint, Outcome& outcome, EndReason* reason) const {
  EndReason unused;
  if (reason == nullptr) reason = &unused;
  int acknowledged = 0;
  outcome = line.SendKey(key32, [&](int parts) {
    acknowledged = parts;
    if (progress) progress(parts);
  });
  if (outcome != Outcome::Ok) {
    reason->step = EndStep::KeyTransfer;
    reason->outcome = outcome;
    reason->stopped = outcome == Outcome::NoReply && Abandoning();
    reason->keyParts = acknowledged;
    const std::string message = "key transfer: " + OutcomeText(outcome, line) + " after " +
                                std::to_string(acknowledged) + " of " + std::to_string(KeyPartCount) + " parts";
    line.SetAbandon([this] { return StopRequests() >= AbandonReadBack; });
    if (line.ReadFootprint(footprint) != Outcome::Ok) footprint.clear();
    return message;
  }
  outcome = line.ReadFootprint(footprint);
  if (outcome == Outcome::Ok) return {};
  reason->step = EndStep::FootprintRead;
  reason->outcome = outcome;
  reason->stopped = outcome == Outcome::NoReply && Abandoning();
  reason->keyParts = KeyPartCount;
  return "footprint read after the key: " + OutcomeText(outcome, line);
}

}  // namespace vorsal::production
