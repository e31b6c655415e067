// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/BootTemperature.h"

#include "monitor/Conversions.h"
#include "monitor/DeviceData.h"

#include <QComboBox>
#include <QEvent>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace {

// The closed box draws its current text itself, not through the delegate;
// this paints it with the converted text instead.
class ClosedBoxPainter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Paint) return false;
    auto* box = qobject_cast<QComboBox*>(watched);
    if (!box || box->isEditable()) return false;
    QStylePainter painter(box);
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = false;
    option.frame = box->hasFrame();
    option.subControls = QStyle::SC_All;
    option.iconSize = box->iconSize();
    option.currentText = BootTempDisplayText(box->currentText());
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    return true;
  }
};

}  // namespace

QString BootTempDisplayText(const QString& celsiusText) {
  if (CelsiusFlag) return celsiusText;
  bool ok = false;
  const int celsius = celsiusText.toInt(&ok);
  return ok ? QString::number(CelsiusToFahrenheit(celsius)) : celsiusText;
}

QString BootTempItemDelegate::displayText(const QVariant& value, const QLocale&) const {
  return BootTempDisplayText(value.toString());
}

void BootTempItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const bool selected = opt.state & QStyle::State_Selected;
  painter->save();
  painter->fillRect(opt.rect, selected ? opt.palette.highlight() : opt.palette.base());
  painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
  painter->setFont(opt.font);
  painter->drawText(opt.rect.translated(2, 0),
                    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextExpandTabs,
                    displayText(index.data(Qt::DisplayRole), opt.locale));
  painter->restore();
}

void InstallBootTempDrawing(QComboBox* box) {
  box->setItemDelegate(new BootTempItemDelegate(box));
  box->installEventFilter(new ClosedBoxPainter(box));
}
