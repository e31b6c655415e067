#pragma once
// Limit fields accept typed digits only: no sign, no letters. Negative values
// are reached with the down button or set by the program.

class QAbstractSpinBox;

void MakeDigitsOnly(QAbstractSpinBox* spinBox);
bool IsDigitsOnly(const QAbstractSpinBox* spinBox);
