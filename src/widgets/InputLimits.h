// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Limits on what the user can type. They bind typing and pasting only: the
// program itself may still put any text into the controls.
//
// Limit fields accept typed digits only: no sign, no letters. Negative values
// are reached with the down button or set by the program.

class QAbstractSpinBox;

void MakeDigitsOnly(QAbstractSpinBox* spinBox);
bool IsDigitsOnly(const QAbstractSpinBox* spinBox);

class QLineEdit;

// Typing stops at maxChars characters.
void LimitTypedLength(QLineEdit* edit, int maxChars);
