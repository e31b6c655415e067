// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's status colours and the few palette operations the window code
// needs. A panel's text colour is the status it shows, so the status is read
// back from the panel itself.

#include "monitor/UnitModel.h"

#include <QColor>

class QLabel;
class QWidget;

inline const QColor StatusGreen{0, 128, 0};
inline const QColor StatusOrange{229, 103, 1};
inline const QColor StatusRed{255, 0, 0};
inline const QColor BlinkSilver{192, 192, 192};

// The edit background of a usable control: the style's own, so that its text
// colour, light or dark, stays readable on it.
QColor SystemWindowColor();
// The background that marks a control as off (an unconfigured sensor row):
// the window's own colour, which tells it apart from a usable edit in a
// light style and in a dark one alike.
QColor SystemScrollBarColor();

void SetTextColor(QWidget* w, const QColor& c);
QColor TextColor(const QWidget* w);

// The status colours as the model names them; any other colour is Plain.
PanelColour PanelColourOf(const QColor& c);
QColor ColourOf(PanelColour colour);
// Shows a panel's caption and colour; Plain leaves the panel's own colour.
void ShowPanelState(QLabel* panel, const PanelState& state);

// Background of an edit-like control (combo box, spin box, line edit). Its
// text while disabled (a list's button text too) is drawn about halfway to its
// background: dim, but readable whatever the style's disabled colour is.
void SetEditColor(QWidget* w, const QColor& c);
QColor EditColor(const QWidget* w);

class QSlider;
// A track bar whose thumb is hidden shows only its groove and ticks; the fan
// bars hide theirs while their fan is not in manual mode.
void SetSliderThumbVisible(QSlider* slider, bool visible);
bool SliderThumbVisible(const QSlider* slider);
