#include "ui/hash_calculate_form.h"

#include "keys/cp1251.h"
#include "keys/gost_hash.h"
#include "keys/hex_utils.h"
#include "keys/key_derivation.h"
#include "ui/main_form.h"
#include "window/texts.h"

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
  obtainer_.reset();
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
  obtainer_.emplace(std::move(*name), FormMain->KeyFile());
  keySource_ = obtainer_->Find();
  if (keySource_ == KeySourceKind::None) {
    LabelHash->setText(QString::fromUtf8(texts::NoKeyHex));
    ProgressBar->setValue(ProgressBar->maximum());
  } else if (keySource_ == KeySourceKind::Store) {
    // Shown exactly as stored, even when it is not clean hex.
    LabelHash->setText(QString::fromUtf8(Cp1251ToUtf8(obtainer_->StoredText())));
    ProgressBar->setValue(ProgressBar->maximum());
  } else {
    ShowKey();
    ProgressBar->setValue(ProgressBar->minimum());
  }
  TimerStart->start();
}

void TFormHashCalculate::TimerStartTimer() {
  Sleep(PauseMs);
  if (keySource_ != KeySourceKind::Derivation || !obtainer_) {
    done(ModalResultOk);
    return;
  }

  SetCancelRequested(false);
  KeyObtainHooks hooks;
  hooks.progress = [this](int chunk) {
    ShowKey();
    ProgressBar->setValue(chunk);
    QCoreApplication::processEvents();
  };
  hooks.cancelRequested = [this] { return CancelRequested(); };
  if (!obtainer_->Derive(hooks)) {
    done(ModalResultCancel);
    return;
  }
  Sleep(PauseMs);

  const KeyStoring stored = obtainer_->Store();
  FormMain->Model.KeyStored(stored, obtainer_->KeyName(), obtainer_->StoreError());
  done(ModalResultOk);
}

}  // namespace vorsal
