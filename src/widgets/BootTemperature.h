// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The boot temperature list holds Celsius values ("0" .. "-40") whatever the
// display unit: the saved index and the value sent to the unit come from the
// item texts. Only the drawing follows the display unit, without a unit sign.

#include <QStyledItemDelegate>

class QComboBox;

// How an item text is shown in the current display unit ("-20" -> "-4" in
// Fahrenheit). A text that is not a number is shown as it is.
QString BootTempDisplayText(const QString& celsiusText);

class BootTempItemDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QString displayText(const QVariant& value, const QLocale& locale) const override;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
};

// Draws the list's items, and the closed box's current item, in the display
// unit. The drawing objects belong to the box.
void InstallBootTempDrawing(QComboBox* box);
