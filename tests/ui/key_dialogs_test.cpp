// The key computation dialog on the offscreen platform, driven through the
// main window's set-key command or shown on its own: where the key comes
// from, what lands in Keys.ini and the key list, Cancel and Esc, and the
// failures that must end the chain before the transfer. (The transfer itself
// runs against the modem simulator in the end-to-end suite.)
#include "tests/ui/main_form_fixture.h"

#include "app/identity.h"
#include "keys/gost_hash.h"
#include "keys/hex_utils.h"
#include "keys/key_derivation.h"
#include "keys/key_store.h"
#include "tests/support/temp_files.h"
#include "ui/hash_calculate_form.h"
#include "ui/key_transfer_form.h"
#include "window/texts.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

namespace vorsal::testing {
namespace {

const char* const NewName = "  Новый ключ 7 ";  // typed with blanks around it

std::string Cp1251(std::string_view utf8) { return KeyNameFromUtf8(utf8).value(); }
std::string Hex(const std::uint8_t* bytes) { return BytesToHex(bytes, 32); }

// The key of NewName, derived once for the whole suite.
const BinaryKeyBytes& NewNameKey() {
  static const BinaryKeyBytes key = DeriveBinaryKey(Cp1251(NewName));
  return key;
}

class KeyDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override { AppTitle = "Vorsal v.3.2"; }
  void TearDown() override {
    transfer.reset();
    hash.reset();
    form.reset();
  }

  // The window with its key file in a temporary AppDir, holding `keysIni`
  // when given; the key list is read from that file.
  void Open(const std::string& keysIni = {}) {
    AppDir = dir.path().string() + "/";
    if (!keysIni.empty()) test::WriteAll(KeysIni(), keysIni);
    TFormMainHooks hooks = recorder.Hooks();
    hooks.KeyNames = nullptr;
    form = std::make_unique<TFormMain>(port, hooks);
    ASSERT_EQ(form->KeyFile(), KeysIni());
    hash = std::make_unique<TFormHashCalculate>(form.get(), [this](int ms) { Pause(hashPauses, ms); });
    transfer = std::make_unique<TFormKeyTransfer>(form.get(), [this](int ms) { Pause(transferPauses, ms); });
  }
  void Pause(std::vector<int>& log, int ms) {
    log.push_back(ms);
    if (onPause) onPause(ms);
  }
  std::filesystem::path KeysIni() const { return dir / "Keys.ini"; }
  void Type(const char* utf8) { form->ComboBoxKey->setEditText(QString::fromUtf8(utf8)); }
  QStringList KeyList() const {
    QStringList items;
    for (int i = 0; i < form->ComboBoxKey->count(); ++i) items << form->ComboBoxKey->itemText(i);
    return items;
  }
  bool KeyIsZero() const {
    return std::all_of(std::begin(BinaryKey), std::end(BinaryKey), [](std::uint8_t b) { return b == 0; });
  }

  test::TempDir dir;
  TComPort port;
  FormRecorder recorder;
  std::vector<int> hashPauses;
  std::vector<int> transferPauses;
  std::function<void(int ms)> onPause;  // runs inside every dialog pause
  std::unique_ptr<TFormMain> form;
  std::unique_ptr<TFormHashCalculate> hash;
  std::unique_ptr<TFormKeyTransfer> transfer;
};

TEST_F(KeyDialogsTest, BlankNameGivesTheAllZeroKeyAndWritesNothing) {
  Open();
  std::fill(std::begin(BinaryKey), std::end(BinaryKey), std::uint8_t{0xA5});
  Type(" \t ");
  EXPECT_EQ(hash->exec(), ModalResultOk);
  EXPECT_EQ(hash->KeySource(), KeySourceKind::None);
  EXPECT_EQ(hash->LabelHash->text(), QString(64, '0'));
  EXPECT_EQ(hash->ProgressBar->value(), 100);
  EXPECT_TRUE(KeyIsZero());
  EXPECT_EQ(hashPauses, std::vector<int>{1000});
  EXPECT_FALSE(std::filesystem::exists(KeysIni()));
  EXPECT_TRUE(KeyList().isEmpty());
}

TEST_F(KeyDialogsTest, StoredKeysAreUsedAsStoredAndADamagedValueIsRefused) {
  // Another section first, a Cyrillic name in Windows-1251, and a value that
  // is no key: lower case, an inner space, 63 digits.
  const std::string damaged = "00112233445566778899aabbccddeeff 00112233445566778899AABBCCDDEEF";
  const std::string file = "[Other]\r\nx=1\r\n[Keys]\r\nAlpha= " + damaged + "\r\n" + Cp1251("Ключ") + "=" +
                           std::string(64, 'C') + "\r\n";
  Open(file);
  EXPECT_EQ(KeyList(), (QStringList{"Alpha", QString::fromUtf8("Ключ")}));

  Type(" alpha ");
  std::fill(std::begin(BinaryKey), std::end(BinaryKey), std::uint8_t{0xA5});
  EXPECT_EQ(hash->exec(), ModalResultCancel);
  EXPECT_EQ(hash->KeySource(), KeySourceKind::Damaged);
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.errors[0].first, QString::fromUtf8(texts::StoredKeyDamaged));
  EXPECT_TRUE(KeyIsZero());
  EXPECT_TRUE(hashPauses.empty());

  Type("КЛЮЧ");
  EXPECT_EQ(hash->exec(), ModalResultOk);
  EXPECT_EQ(hash->KeySource(), KeySourceKind::Store);
  EXPECT_EQ(hash->LabelHash->text(), QString(64, 'C'));
  EXPECT_EQ(hash->ProgressBar->value(), 100);
  EXPECT_EQ(BinaryKey[0], 0xCC);
  EXPECT_EQ(BinaryKey[31], 0xCC);

  EXPECT_EQ(hashPauses, (std::vector<int>{1000}));
  EXPECT_EQ(test::ReadAll(KeysIni()), file);
  EXPECT_EQ(KeyList().size(), 2);
}

TEST_F(KeyDialogsTest, NewNameIsDerivedChunkByChunkStoredAndListed) {
  const BinaryKeyBytes key = NewNameKey();
  BeginKeyDerivation(Cp1251(NewName));
  const QString single = QString::fromStdString(Hex(BinaryKey));
  Open("[Keys]\r\nold=" + std::string(64, '1') + "\r\n");

  Type(NewName);
  QString labelInFirstPause;
  onPause = [&](int) {
    if (!labelInFirstPause.isEmpty()) return;
    labelInFirstPause = hash->LabelHash->text();
    // The close box does not stop a running derivation.
    QMetaObject::invokeMethod(hash.get(), "close", Qt::QueuedConnection);
  };
  // The bar starts at its minimum, 1, so the steps seen are 2..100.
  std::vector<std::pair<int, QString>> steps;
  QObject::connect(hash->ProgressBar, &QProgressBar::valueChanged, [&](int value) {
    if (hash->Working()) steps.emplace_back(value, hash->LabelHash->text());
  });
  EXPECT_EQ(hash->exec(), ModalResultOk);

  EXPECT_EQ(labelInFirstPause, single);
  ASSERT_EQ(steps.size(), 99u);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(steps[i].first, static_cast<int>(i) + 2);
    if (i > 0) {
      EXPECT_NE(steps[i].second, steps[i - 1].second) << "chunk " << i + 2;
    }
  }
  EXPECT_EQ(steps.back().second.toStdString(), Hex(key.data()));
  EXPECT_TRUE(std::equal(key.begin(), key.end(), BinaryKey));
  EXPECT_EQ(hashPauses, (std::vector<int>{1000, 1000}));
  EXPECT_EQ(KeyStoreNames(KeysIni()), (std::vector<std::string>{"old", Cp1251(NewName)}));
  EXPECT_EQ(KeyStoreLookup(KeysIni(), Cp1251(NewName)), Hex(key.data()));
  EXPECT_EQ(KeyList(), (QStringList{"old", QString::fromUtf8("Новый ключ 7")}));
  EXPECT_TRUE(recorder.errors.empty());

  // Shown again, the name is found in the store: no second derivation.
  const std::string file = test::ReadAll(KeysIni());
  EXPECT_EQ(hash->exec(), ModalResultOk);
  EXPECT_EQ(hash->KeySource(), KeySourceKind::Store);
  EXPECT_TRUE(std::equal(key.begin(), key.end(), BinaryKey));
  EXPECT_EQ(test::ReadAll(KeysIni()), file);
  EXPECT_EQ(KeyList().size(), 2);
}

TEST_F(KeyDialogsTest, CancelOrEscStopsTheDerivationAfterTheCurrentChunk) {
  BeginKeyDerivation("never stored");
  ContinueKeyDerivation();
  const QString firstChunk = QString::fromStdString(Hex(BinaryKey));
  Open();
  Type("never stored");
  // Esc during the first pause counts: it is handled after the first chunk.
  onPause = [&](int) {
    QCoreApplication::postEvent(hash->ButtonCancel, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
  };
  EXPECT_EQ(hash->exec(), ModalResultCancel);
  EXPECT_EQ(hash->ProgressBar->value(), 1);
  EXPECT_EQ(hash->LabelHash->text(), firstChunk);
  EXPECT_EQ(hashPauses, std::vector<int>{1000});

  // Through the set-key command, with the Cancel button: no transfer.
  onPause = [&](int) { QMetaObject::invokeMethod(hash->ButtonCancel, "click", Qt::QueuedConnection); };
  form->ButtonSetKeyClick();
  EXPECT_EQ(hash->result(), ModalResultCancel);
  EXPECT_EQ(hashPauses, (std::vector<int>{1000, 1000}));
  EXPECT_TRUE(transferPauses.empty());
  EXPECT_TRUE(recorder.errors.empty());
  EXPECT_FALSE(std::filesystem::exists(KeysIni()));
  EXPECT_TRUE(KeyList().isEmpty());
}

TEST_F(KeyDialogsTest, KeyThatCannotBeCachedIsReportedAndStillTransferred) {
  const BinaryKeyBytes key = NewNameKey();
  Open();
  std::filesystem::create_directory(KeysIni());  // exists, but no file can be written there
  Type(NewName);
  form->ButtonSetKeyClick();

  // The path and the system's reason; then the transfer runs (and, with no
  // port open here, fails on its first part).
  ASSERT_EQ(recorder.errors.size(), 2u);
  EXPECT_TRUE(recorder.errors[0].first.startsWith(QString::fromUtf8(texts::KeyNotCached)));
  EXPECT_TRUE(recorder.errors[0].first.endsWith(
      QString::fromStdString("Unable to write to " + KeysIni().string() + ": " + std::strerror(EISDIR))))
      << recorder.errors[0].first.toStdString();
  EXPECT_EQ(recorder.errors[1].first.toStdString(), std::string(EComPort(CEPortNotOpen).what()));
  EXPECT_EQ(hash->result(), ModalResultOk);
  EXPECT_TRUE(std::equal(key.begin(), key.end(), BinaryKey));
  EXPECT_TRUE(KeyList().isEmpty());
}

// The dialog shown on its own refuses a name without a Windows-1251 form (the
// window's key command refuses it before, as the model's suite shows).
TEST_F(KeyDialogsTest, NameWithoutWindows1251FormIsRefusedBeforeAnyWork) {
  Open();
  Type("ключ ✓");
  std::fill(std::begin(BinaryKey), std::end(BinaryKey), std::uint8_t{0xA5});
  EXPECT_EQ(hash->exec(), ModalResultCancel);
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.errors[0].first, QString::fromUtf8(texts::KeyNameNotCp1251));
  EXPECT_TRUE(hashPauses.empty());
  EXPECT_TRUE(KeyIsZero());
  EXPECT_FALSE(std::filesystem::exists(KeysIni()));
}

TEST_F(KeyDialogsTest, NameTheKeyFileCannotHoldIsDerivedButNotStored) {
  Open();
  Type("a=b");
  EXPECT_EQ(hash->exec(), ModalResultOk);
  EXPECT_EQ(hash->KeySource(), KeySourceKind::Derivation);
  ASSERT_EQ(recorder.errors.size(), 1u);
  EXPECT_EQ(recorder.errors[0].first, QString::fromUtf8(texts::KeyNameNotStored));
  EXPECT_FALSE(KeyIsZero());
  EXPECT_FALSE(std::filesystem::exists(KeysIni()));
  EXPECT_TRUE(KeyList().isEmpty());
}

}  // namespace
}  // namespace vorsal::testing
