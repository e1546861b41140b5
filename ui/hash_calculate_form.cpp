#include "ui/hash_calculate_form.h"

#include "keys/cp1251.h"
#include "keys/gost_hash.h"
#include "keys/hex_utils.h"
#include "keys/key_derivation.h"
#include "keys/key_store.h"
#include "ui/main_form.h"
#include "ui/texts.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>

namespace vorsal {

TFormHashCalculate::TFormHashCalculate(QWidget* parent, std::function<void(int ms)> sleep)
    : TKeyDialog({texts::CaptionHashCalculate, QSize(537, 88), QRect(12, 32, 513, 14), 1, KeyDerivationChunks,
                  QPoint(448, 56)},
                 parent, std::move(sleep)) {
  LabelHash = new QLabel(this);
  LabelHash->setGeometry(12, 12, 512, 16);
  QFont font(QString::fromUtf8(texts::FontKeyHex));
  font.setStyleHint(QFont::Monospace);
  font.setPixelSize(13);
  LabelHash->setFont(font);
  LabelHash->setTextFormat(Qt::PlainText);  // a stored value is shown as it is, never as markup
  FormHashCalculate = this;
}

TFormHashCalculate::~TFormHashCalculate() {
  if (FormHashCalculate == this) FormHashCalculate = nullptr;
}

void TFormHashCalculate::ShowKey() {
  LabelHash->setText(QString::fromStdString(BytesToHex(BinaryKey, sizeof BinaryKey)));
}

void TFormHashCalculate::FormShow() {
  std::fill(std::begin(BinaryKey), std::end(BinaryKey), std::uint8_t{0});
  keySource_ = KeySourceKind::None;
  keyName_.clear();
  const std::string typed = FormMain->ComboBoxKey->currentText().toStdString();
  std::string error;
  std::optional<std::string> name = KeyNameFromUtf8(typed, &error);
  if (!name) {
    // The hash takes Windows-1251 bytes: any stand-in character would give
    // another key than the one the name stands for.
    LabelHash->clear();
    ProgressBar->setValue(ProgressBar->minimum());
    RefuseAtStart(QString::fromUtf8(texts::KeyNameNotCp1251), QString::fromStdString(error));
    return;
  }
  keyName_ = std::move(*name);

  std::string stored;
  if (!keyName_.empty()) stored = KeyStoreLookup(FormMain->KeyFile(), keyName_);
  if (keyName_.empty()) {
    LabelHash->setText(QString::fromUtf8(texts::NoKeyHex));
    ProgressBar->setValue(ProgressBar->maximum());
  } else if (!stored.empty()) {
    HexToBytes(stored, BinaryKey, sizeof BinaryKey);
    // Shown exactly as stored, even when it is not clean hex.
    LabelHash->setText(QString::fromUtf8(Cp1251ToUtf8(stored)));
    ProgressBar->setValue(ProgressBar->maximum());
    keySource_ = KeySourceKind::Store;
  } else {
    BeginKeyDerivation(keyName_);
    ShowKey();
    ProgressBar->setValue(ProgressBar->minimum());
    keySource_ = KeySourceKind::Derivation;
  }
  TimerStart->start();
}

void TFormHashCalculate::TimerStartTimer() {
  Sleep(PauseMs);
  if (keySource_ != KeySourceKind::Derivation) {
    done(ModalResultOk);
    return;
  }

  SetCancelRequested(false);
  for (int chunk = ProgressBar->minimum(); chunk <= ProgressBar->maximum(); ++chunk) {
    ContinueKeyDerivation();
    ShowKey();
    ProgressBar->setValue(chunk);
    QCoreApplication::processEvents();
    if (CancelRequested()) {
      done(ModalResultCancel);
      return;
    }
  }
  Sleep(PauseMs);

  if (!KeyNameStorable(keyName_)) {
    // Stored, the name would read back as another name and never be found:
    // the key goes to the modem but not into Keys.ini.
    FormMain->ShowError(QString::fromUtf8(texts::KeyNameNotStored));
    done(ModalResultOk);
    return;
  }
  std::string error;
  if (KeyStoreSave(FormMain->KeyFile(), keyName_, BytesToHex(BinaryKey, sizeof BinaryKey), &error)) {
    FormMain->ComboBoxKey->addItem(QString::fromStdString(Cp1251ToUtf8(keyName_)));
  } else {
    // The user asked for the key in the modem, and the same name derives the
    // same key next time: a cache that cannot be kept stops nothing.
    FormMain->ShowError(QString::fromUtf8(texts::KeyNotCached) + "\n\n" + QString::fromStdString(error));
  }
  done(ModalResultOk);
}

}  // namespace vorsal
