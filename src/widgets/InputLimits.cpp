// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/InputLimits.h"

#include <QAbstractSpinBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace {

class DigitsOnlyFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      const QString text = key->text();
      // Editing and navigation keys carry no printable text and pass.
      if (!text.isEmpty() && text.at(0).isPrint() &&
          !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        for (QChar c : text)
          if (!c.isDigit()) return true;
      }
    }
    return QObject::eventFilter(watched, event);
  }
};

const char kDigitsOnlyProperty[] = "digitsOnly";

}  // namespace

void MakeDigitsOnly(QAbstractSpinBox* spinBox) {
  if (IsDigitsOnly(spinBox)) return;
  spinBox->setProperty(kDigitsOnlyProperty, true);
  auto* filter = new DigitsOnlyFilter(spinBox);
  spinBox->installEventFilter(filter);
  if (QLineEdit* edit = spinBox->findChild<QLineEdit*>()) edit->installEventFilter(filter);
}

bool IsDigitsOnly(const QAbstractSpinBox* spinBox) {
  return spinBox->property(kDigitsOnlyProperty).toBool();
}

void LimitTypedLength(QLineEdit* edit, int maxChars) {
  // A validator rather than a maximum length: the maximum would also cut
  // texts the program sets (the critical-temperature text is longer).
  edit->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("^.{0,%1}$").arg(maxChars),
                         QRegularExpression::DotMatchesEverythingOption),
      edit));
}
