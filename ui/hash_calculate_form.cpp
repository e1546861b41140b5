#include "ui/hash_calculate_form.h"

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

// The dialog's controls, as the key computation draws on them.
class TFormHashCalculate::View : public KeyComputationView {
 public:
  explicit View(TFormHashCalculate& dialog) : dialog_(dialog) {}
  void ShowKeyText(std::string_view text) override {
    dialog_.LabelHash->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  }
  // The bar's own minimum stands for no chunk done.
  void ShowProgress(int chunk) override {
    dialog_.ProgressBar->setValue(std::clamp(chunk, dialog_.ProgressBar->minimum(), dialog_.ProgressBar->maximum()));
  }
  void Sleep(int ms) override { dialog_.Sleep(ms); }
  void Pump() override { QCoreApplication::processEvents(); }
  bool CancelRequested() override { return dialog_.CancelRequested(); }
  void ClearCancel() override { dialog_.SetCancelRequested(false); }

 private:
  TFormHashCalculate& dialog_;
};

void TFormHashCalculate::FormShow() {
  View view(*this);
  std::string detail;
  const std::optional<std::string> refusal =
      computation_.Open(FormMain->ComboBoxKey->currentText().toStdString(), FormMain->KeyFile(), view, &detail);
  if (refusal) {
    RefuseAtStart(QString::fromStdString(*refusal), QString::fromStdString(detail));
    return;
  }
  TimerStart->start();
}

void TFormHashCalculate::TimerStartTimer() {
  View view(*this);
  done(computation_.Run(view, FormMain->Model) ? ModalResultOk : ModalResultCancel);
}

}  // namespace vorsal
