// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulated unit's own window: its front panel and readings as the
// hardware would show them, and the knobs a tester uses to make it misbehave.

#include "SimulatedUnit.h"

#include <QString>
#include <QWidget>

#include <string>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

namespace unitsim {

// Display bytes as the unit's character set shows them: Windows-1252, except
// that the two degree bytes the host uses (0xB2, 0xDF) show as a degree sign
// and control bytes as blanks.
QString DecodeFrontPanelBytes(const std::string& bytes);

// The unit's own name for a state or fault code ("BOOT DELAY", "FAN FAILED").
QString UnitStateName(int code);

class SimUnitWindow : public QWidget {
  Q_OBJECT

 public:
  // followWallClock: the window's refresh also keeps the model's time in step
  // with the wall clock.
  SimUnitWindow(SimulatedUnit& unit, bool followWallClock, QWidget* parent = nullptr);

  // Reads everything shown afresh from the unit.
  void Refresh();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildFrontPanel();
  QWidget* BuildReadings();
  QWidget* BuildControls();

  // One refresh tick: the model's time brought up to now, then Refresh.
  void Tick();
  void ApplyForcedState();
  void ApplyMalformation();
  void ToggleCable();

  SimulatedUnit& unit_;
  bool followWallClock_;
  QTimer* timer_;
  bool watchingExposure_ = false;

  QLabel* line1_;
  QLabel* line2_;
  QLabel* state_;
  QLabel* temperatures_[5];
  QLabel* fans_[2];
  QLabel* hours_;
  QLabel* modelTime_;

  QComboBox* forcedState_;
  QComboBox* sensor_;
  QDoubleSpinBox* sensorValue_;
  QCheckBox* fanStopped_[2];
  QComboBox* malformation_;
  QSpinBox* malformCount_;
  QPushButton* cable_;
};

}  // namespace unitsim
