// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The texts and choice lists the user sees. They are set in one step at start,
// before the settings are loaded, so whatever the window layouts carry for the
// same controls is replaced here.

class QComboBox;
class QMainWindow;

namespace Ui {
class TForm1;
}

// Replaces the list with the boot temperatures "0", "-1" ... "-40" (whole
// degrees Celsius) and selects "-33".
void FillBootTempComboBox(QComboBox* box);

// Application title, window caption, every caption of the four pages, every
// choice list with its start item, and the "RTC" page hidden with "System" in
// front. No change signal of any list fires: the change handlers would take the
// start items for a choice of the user and save or send them.
void ApplyWindowTexts(Ui::TForm1& ui, QMainWindow* window);
