// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/Palette.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QWidget>

namespace {

QColor Between(const QColor& from, const QColor& to, double share) {
  return QColor::fromRgbF(from.redF() + (to.redF() - from.redF()) * share,
                          from.greenF() + (to.greenF() - from.greenF()) * share,
                          from.blueF() + (to.blueF() - from.blueF()) * share);
}

QColor AppColor(QPalette::ColorRole role) { return QApplication::palette().color(QPalette::Active, role); }

}  // namespace

QColor SystemWindowColor() { return AppColor(QPalette::Base); }

QColor SystemScrollBarColor() { return AppColor(QPalette::Window); }

void SetTextColor(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  if (p.color(QPalette::Active, QPalette::WindowText) == c &&
      p.color(QPalette::Active, QPalette::Text) == c)
    return;
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    p.setColor(group, QPalette::WindowText, c);
    p.setColor(group, QPalette::Text, c);
    p.setColor(group, QPalette::ButtonText, c);
  }
  w->setPalette(p);
}

QColor TextColor(const QWidget* w) {
  return w->palette().color(QPalette::Active, QPalette::WindowText);
}

PanelColour PanelColourOf(const QColor& c) {
  if (c == StatusGreen) return PanelColour::Green;
  if (c == StatusOrange) return PanelColour::Orange;
  if (c == StatusRed) return PanelColour::Red;
  if (c == BlinkSilver) return PanelColour::Silver;
  return PanelColour::Plain;
}

QColor ColourOf(PanelColour colour) {
  switch (colour) {
    case PanelColour::Green: return StatusGreen;
    case PanelColour::Orange: return StatusOrange;
    case PanelColour::Red: return StatusRed;
    case PanelColour::Silver: return BlinkSilver;
    case PanelColour::Plain: break;
  }
  return {};
}

void ShowPanelState(QLabel* panel, const PanelState& state) {
  if (panel->text() != state.caption) panel->setText(state.caption);
  if (state.colour != PanelColour::Plain) SetTextColor(panel, ColourOf(state.colour));
}

void SetEditColor(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  if (p.color(QPalette::Active, QPalette::Base) == c && p.isBrushSet(QPalette::Disabled, QPalette::Text)) return;
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    p.setColor(group, QPalette::Base, c);
  }
  p.setColor(QPalette::Disabled, QPalette::Text, Between(p.color(QPalette::Active, QPalette::Text), c, 0.45));
  // A list that cannot be typed into is drawn as a button by most styles.
  p.setColor(QPalette::Disabled, QPalette::ButtonText,
             Between(p.color(QPalette::Active, QPalette::ButtonText), p.color(QPalette::Active, QPalette::Button), 0.45));
  w->setPalette(p);
}

QColor EditColor(const QWidget* w) {
  return w->palette().color(QPalette::Active, QPalette::Base);
}


#include <QSlider>

namespace {
const char kThumbHiddenProperty[] = "thumbHidden";
}

void SetSliderThumbVisible(QSlider* slider, bool visible) {
  if (SliderThumbVisible(slider) == visible) return;
  slider->setProperty(kThumbHiddenProperty, !visible);
  // A style sheet that styles the handle must style the groove as well, or the
  // style ignores it.
  // The groove is drawn between the window's text and background colours, so
  // that it shows in a dark style as well as in a light one.
  const QColor groove = Between(AppColor(QPalette::WindowText), AppColor(QPalette::Window), 0.6);
  slider->setStyleSheet(
      visible ? QString()
              : QStringLiteral("QSlider::groove:horizontal { height: 4px; background: %1; "
                               "margin: 0 4px; }"
                               "QSlider::handle:horizontal { width: 0px; background: transparent; "
                               "border: none; }")
                    .arg(groove.name()));
}

bool SliderThumbVisible(const QSlider* slider) {
  return !slider->property(kThumbHiddenProperty).toBool();
}
