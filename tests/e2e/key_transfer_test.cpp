// The key group's write command against the modem simulator: a new key name
// derived, stored and written into the modem, whose footprint then matches
// the key; and the transfer's failure paths (a part never acknowledged, an
// acknowledgement with the previous part's command, Cancel, the adapter
// pulled out while sending).
#include "tests/e2e/sim_session_fixture.h"
#include "tests/support/frames.h"

#include "keys/gost_hash.h"
#include "keys/hex_utils.h"
#include "keys/key_derivation.h"
#include "keys/key_store.h"
#include "protocol/frame.h"
#include "protocol/key_transfer.h"
#include "sim/modem_model.h"
#include "tests/support/temp_files.h"
#include "ui/hash_calculate_form.h"
#include "ui/key_transfer_form.h"
#include "window/texts.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include <algorithm>
#include <array>
#include <utility>

namespace vorsal::testing {
namespace {

// A stored key whose parts all differ: bytes 0x00..0x1F.
const char* const StoredName = "Склад";
constexpr int SliceRealMs = 20;  // a wait slice, shortened

class KeyTransferTest : public SimSessionTest {
 protected:
  void SetUp() override {
    AppDir = dir.path().string() + "/";
    for (int i = 0; i < 32; ++i) storedKey[i] = static_cast<std::uint8_t>(i);
    test::WriteAll(dir / "Keys.ini", "[Keys]\r\n" + KeyNameFromUtf8(StoredName).value() + "=" +
                                         BytesToHex(storedKey.data(), 32) + "\r\n");
    SimSessionTest::SetUp();
    hash = std::make_unique<TFormHashCalculate>(form.get(), [this](int ms) { hashPauses.push_back(ms); });
    transfer = std::make_unique<TFormKeyTransfer>(form.get(), [this](int ms) { TransferPause(ms); });
  }
  void TearDown() override {
    transfer.reset();
    hash.reset();
    SimSessionTest::TearDown();
  }

  // The transfer's pauses: a wait slice sleeps a little for real, so the
  // modem's reply can come in, and counts towards the part being waited for.
  void TransferPause(int ms) {
    if (ms != KeyAckSliceMs) {
      otherPauses.push_back(ms);
      return;
    }
    const int part = form->Engine.LastSentFrame[3] - CmdKeyPart;
    ++slices[part];
    if (onSlice) onSlice(part);
    QThread::msleep(SliceRealMs);
  }
  void ConnectAndRead() {
    StartModem(modemArgs);
    Connect();
    form->ButtonGetAddress->click();
    ASSERT_TRUE(AwaitResult());
    ASSERT_EQ(NextRequestCommand(), std::optional<int>(CmdReadParams));
  }
  void SetKey(const char* name) {
    form->ComboBoxKey->setEditText(QString::fromUtf8(name));
    form->ButtonSetKey->click();
  }
  // The key parts the modem received, in order, until it stays silent.
  std::vector<std::vector<std::uint8_t>> ReceivedParts() {
    std::vector<std::vector<std::uint8_t>> parts;
    for (std::vector<std::uint8_t> request = NextRequest(1000); !request.empty(); request = NextRequest(500)) {
      parts.push_back(request);
    }
    return parts;
  }
  // The received parts carry `count` parts of `key` in order.
  void ExpectParts(const std::vector<std::vector<std::uint8_t>>& parts, const std::uint8_t* key, std::size_t count) {
    ASSERT_EQ(parts.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
      const std::vector<std::uint8_t> expected = {static_cast<std::uint8_t>(CmdKeyPart + i), key[4 * i],
                                                  key[4 * i + 1], key[4 * i + 2], key[4 * i + 3]};
      ASSERT_EQ(parts[i].size(), FrameSize) << "part " << i;
      EXPECT_EQ(std::vector<std::uint8_t>(parts[i].begin() + 3, parts[i].end()), expected) << "part " << i;
    }
  }
  // The footprint display for `key`: the simulated modem's footprint reply
  // formatted as the window does.
  QString FootprintOf(const std::uint8_t* key) {
    const ModemFootprintBytes footprint = ModemFootprint(key);
    ModemFrame reply{};
    std::copy(footprint.begin(), footprint.end(), reply.begin() + 4);
    return QString::fromStdString(test::FootprintText(reply.data()));
  }
  QString ReadFootprint() {
    form->ButtonGetFP->click();
    EXPECT_TRUE(AwaitResult());
    return form->LabelFP->text();
  }

  std::array<std::uint8_t, 32> storedKey{};
  std::vector<std::string> modemArgs;
  std::array<int, 8> slices{};
  std::vector<int> otherPauses;
  std::vector<int> hashPauses;
  std::function<void(int part)> onSlice;  // runs before each wait slice
  std::unique_ptr<TFormHashCalculate> hash;
  std::unique_ptr<TFormKeyTransfer> transfer;
};

TEST_F(KeyTransferTest, NewKeyIsDerivedStoredWrittenAndItsFootprintReadBack) {
  const std::string name = KeyNameFromUtf8("Сеть 12").value();
  const BinaryKeyBytes key = DeriveBinaryKey(name);
  ConnectAndRead();
  EXPECT_EQ(ReadFootprint(), "0B.2A.E4.45");
  ASSERT_EQ(NextRequestCommand(), std::optional<int>(CmdReadFootprint));

  SetKey("Сеть 12");
  EXPECT_TRUE(recorder.errors.empty());
  EXPECT_EQ(hash->result(), ModalResultOk);
  EXPECT_EQ(transfer->result(), ModalResultOk);
  EXPECT_EQ(transfer->ProgressBar->value(), 8);
  EXPECT_EQ(otherPauses, std::vector<int>{500});
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(KeyStoreLookup(dir / "Keys.ini", name), BytesToHex(key.data(), 32));
  EXPECT_EQ(form->ComboBoxKey->itemText(form->ComboBoxKey->count() - 1), QString::fromUtf8("Сеть 12"));
  ExpectParts(ReceivedParts(), key.data(), 8);

  EXPECT_EQ(ReadFootprint(), FootprintOf(key.data()));
}

// Counts the spontaneous show events a widget gets.
struct SpontaneousShows : QObject {
  int count = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show && event->spontaneous()) ++count;
    return false;
  }
};

// The window system's way back from the taskbar: a spontaneous show.
void MinimiseAndRestore(QWidget& dialog) {
  dialog.setWindowState(Qt::WindowMinimized);
  dialog.setWindowState(Qt::WindowNoState);
}

TEST_F(KeyTransferTest, RestoringAMinimisedDialogLeavesItsWorkAlone) {
  const std::string name = KeyNameFromUtf8("Резерв 3").value();
  const BinaryKeyBytes key = DeriveBinaryKey(name);
  ConnectAndRead();
  SpontaneousShows shows;
  hash->installEventFilter(&shows);
  transfer->installEventFilter(&shows);
  bool restored = false;  // once: a nested derivation would reach 50 again
  QObject::connect(hash->ProgressBar, &QProgressBar::valueChanged, [&](int value) {
    if (value != 50 || std::exchange(restored, true)) return;
    MinimiseAndRestore(*hash);
  });
  onSlice = [&](int part) {
    if (part != 3 || slices[3] != 1) return;
    MinimiseAndRestore(*transfer);
    form->ButtonSetKeyClick();  // the key command again, while the transfer runs
  };
  SetKey("Резерв 3");

  EXPECT_GE(shows.count, 2);  // the restores did reach the dialogs
  EXPECT_TRUE(recorder.errors.empty());
  EXPECT_EQ(hashPauses, (std::vector<int>{1000, 1000}));  // one derivation
  EXPECT_EQ(KeyStoreNames(dir / "Keys.ini").size(), 2u);
  EXPECT_EQ(KeyStoreLookup(dir / "Keys.ini", name), BytesToHex(key.data(), 32));
  EXPECT_EQ(transfer->result(), ModalResultOk);
  EXPECT_EQ(otherPauses, std::vector<int>{500});  // one transfer
  ExpectParts(ReceivedParts(), key.data(), 8);
}

TEST_F(KeyTransferTest, PartNeverAcknowledgedStopsTheTransferWithTheMessage) {
  modemArgs = {"--no-ack-part", "3"};
  ConnectAndRead();
  SetKey(StoredName);

  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.errors[0].first, QString::fromUtf8(texts::KeyTransferFailed));
  EXPECT_EQ(transfer->result(), ModalResultOk);
  EXPECT_EQ(transfer->ProgressBar->value(), 3);
  EXPECT_EQ(slices[3], KeyAckWaitSlices);
  EXPECT_TRUE(otherPauses.empty());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  ExpectParts(ReceivedParts(), storedKey.data(), 4);
}

TEST_F(KeyTransferTest, AcknowledgementWithThePreviousCommandStillCounts) {
  modemArgs = {"--ack-part-with-previous", "5"};
  ConnectAndRead();
  SetKey(StoredName);

  // Key part 5's wait runs out, yet its position matches: the transfer goes on.
  EXPECT_TRUE(recorder.errors.empty());
  EXPECT_EQ(slices[5], KeyAckWaitSlices);
  EXPECT_LT(slices[4], KeyAckWaitSlices);
  EXPECT_EQ(transfer->result(), ModalResultOk);
  EXPECT_EQ(transfer->ProgressBar->value(), 8);
  ExpectParts(ReceivedParts(), storedKey.data(), 8);
  EXPECT_EQ(ReadFootprint(), FootprintOf(storedKey.data()));
}

TEST_F(KeyTransferTest, EscWhileWaitingEndsWithCancelAndSendsNoMore) {
  modemArgs = {"--no-ack-part", "2"};
  ConnectAndRead();
  onSlice = [&](int part) {
    if (part == 2 && slices[2] == 3) {
      QCoreApplication::postEvent(transfer->ButtonCancel,
                                  new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    }
  };
  SetKey(StoredName);

  EXPECT_TRUE(recorder.errors.empty());
  EXPECT_EQ(transfer->result(), ModalResultCancel);
  EXPECT_EQ(slices[2], 3);
  EXPECT_EQ(transfer->ProgressBar->value(), 2);
  EXPECT_TRUE(otherPauses.empty());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  ExpectParts(ReceivedParts(), storedKey.data(), 3);
}

TEST_F(KeyTransferTest, AdapterPulledMidTransferIsToldOnceAndCancels) {
  ConnectAndRead();
  // Key part 1 is acknowledged, then the adapter goes: the port closes before
  // part 2 is sent.
  onSlice = [&](int part) {
    if (part != 1 || slices[1] != 1) return;
    ASSERT_TRUE(WaitUntil([&] { return form->Engine.KeyAckIndex == 1; }, true, 10000));
    sim.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !port.Connected(); }, true, 10000));
  };
  SetKey(StoredName);

  // The window tells of the lost port once; the transfer adds no box of its own.
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_TRUE(recorder.errors[0].first.contains(QString::fromUtf8("потеряна")));
  EXPECT_EQ(transfer->result(), ModalResultCancel);
  EXPECT_FALSE(transfer->isVisible());
  EXPECT_EQ(transfer->ProgressBar->value(), 2);
  EXPECT_EQ(slices[2], 0);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace vorsal::testing
