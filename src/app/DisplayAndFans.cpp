// SPDX-License-Identifier: GPL-3.0-or-later
// The Display tab's front-panel texts and the Setup tab's fan modes, and the
// packets that carry them to the unit.

#include "app/TForm1.h"
#include "core/Guard.h"
#include "config/FrontPanel.h"
#include "monitor/DeviceData.h"
#include "widgets/Palette.h"

#include "ui_TForm1.h"

#include <QComboBox>
#include <QSlider>


void TForm1::ConnectDisplayAndFanHandlers() {
  connect(ui_->PrimaryTextComboBox, &QComboBox::editTextChanged, this,
          &TForm1::PrimaryTextComboBoxChange);
  connect(ui_->SecondaryTextComboBox, &QComboBox::editTextChanged, this,
          &TForm1::SecondaryTextComboBoxChange);
  for (QComboBox* box : {ui_->DispParam1, ui_->DispParam2, ui_->DispParam3})
    connect(box, &QComboBox::currentIndexChanged, this, &TForm1::DispParamChange);
  connect(ui_->DispLine1Int, &QComboBox::currentIndexChanged, &watch_->Panel(),
          &FrontPanel::DispLine1IntChange);

  connect(ui_->FrontFanModeComboBox, &QComboBox::currentIndexChanged, this,
          &TForm1::FrontFanModeComboBoxChange);
  connect(ui_->RearFanModeComboBox, &QComboBox::currentIndexChanged, this,
          &TForm1::RearFanModeComboBoxChange);
  // Presets move the bars with their signals blocked, so every change seen
  // here is the user's.
  connect(ui_->FrontFanManual, &QSlider::valueChanged, this, &TForm1::FrontFanManualChange);
  connect(ui_->RearFanManual, &QSlider::valueChanged, this, &TForm1::RearFanManualChange);
}

// ---------------------------------------------------------------------------
// Front panel

void TForm1::DispParamChange() {
  settings_->Pending.Raise(PendingDisplayParams);
  watch_->Panel().ComposeDisplayLine2();
}

// ---------------------------------------------------------------------------
// Fans

void TForm1::FanModeChange(int fan) {
  Guarded(report_, [&] {
    QComboBox* mode = fan == 0 ? ui_->FrontFanModeComboBox : ui_->RearFanModeComboBox;
    QSlider* bar = fan == 0 ? ui_->FrontFanManual : ui_->RearFanManual;
    const int item = mode->currentIndex();
    const bool manual = item == fanpresets::kManualMode;
    bar->setEnabled(manual);
    SetSliderThumbVisible(bar, manual);

    const bool anyManual = ui_->FrontFanModeComboBox->currentIndex() == fanpresets::kManualMode ||
                           ui_->RearFanModeComboBox->currentIndex() == fanpresets::kManualMode;
    ui_->ManualLabel->setEnabled(anyManual);
    const bool anyBar = ui_->FrontFanManual->isEnabled() || ui_->RearFanManual->isEnabled();
    ui_->FanMinLabel->setEnabled(anyBar);
    ui_->FanMaxLabel->setEnabled(anyBar);

    if (const auto shown = fanpresets::ChooseMode(Device.FanBoot, settings_->Pending, fan, item)) {
      // The bar only shows the speed here; it is not a manual choice.
      QSignalBlocker block(bar);
      bar->setValue(*shown);
    }
  });
}

void TForm1::FanManualChange(int fan) {
  QSlider* bar = fan == 0 ? ui_->FrontFanManual : ui_->RearFanManual;
  fanpresets::SetManualSpeed(Device.FanBoot, settings_->Pending, fan, bar->value());
}
