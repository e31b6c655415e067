// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/Palette.h"

#include <QLabel>

#include <QPalette>
#include <QWidget>

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
  if (p.color(QPalette::Active, QPalette::Base) == c) return;
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    p.setColor(group, QPalette::Base, c);
  }
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
  slider->setStyleSheet(
      visible ? QString()
              : QStringLiteral("QSlider::groove:horizontal { height: 4px; background: #a0a0a0; "
                               "margin: 0 4px; }"
                               "QSlider::handle:horizontal { width: 0px; background: transparent; "
                               "border: none; }"));
}

bool SliderThumbVisible(const QSlider* slider) {
  return !slider->property(kThumbHiddenProperty).toBool();
}
