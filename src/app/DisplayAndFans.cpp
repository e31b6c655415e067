// SPDX-License-Identifier: GPL-3.0-or-later
// The Display tab's front-panel texts and the Setup tab's fan modes, and the
// packets that carry them to the unit.

#include "app/TForm1.h"
#include "core/Guard.h"
#include "config/FrontPanel.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "monitor/DeviceData.h"
#include "widgets/Palette.h"

#include "ui_TForm1.h"

#include <QComboBox>
#include <QSlider>

#include <exception>

namespace {

struct FanPreset {
  int first, second;
};

// "Normal", "Low noise", "Turbo"; "Manual" takes the track bar's position.
constexpr FanPreset kFanPresets[] = {{1100, 1400}, {750, 750}, {2100, 2100}};
constexpr int kManualMode = 3;
constexpr int kPresetWord0 = 2100;

}  // namespace

void TForm1::ConnectDisplayAndFanHandlers() {
  connect(ui_->PrimaryTextComboBox, &QComboBox::editTextChanged, this,
          &TForm1::PrimaryTextComboBoxChange);
  connect(ui_->SecondaryTextComboBox, &QComboBox::editTextChanged, this,
          &TForm1::SecondaryTextComboBoxChange);
  for (QComboBox* box : {ui_->DispParam1, ui_->DispParam2, ui_->DispParam3})
    connect(box, &QComboBox::currentIndexChanged, this, &TForm1::DispParamChange);
  connect(ui_->DispLine1Int, &QComboBox::currentIndexChanged, this, &TForm1::DispLine1IntChange);
  connect(&DisplayIntervalTimer, &QTimer::timeout, this, &TForm1::DisplayIntervalTimerTimer);

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

void TForm1::SendLine1Text(const QString& text) {
  Guarded(report_, [&] {
    ExchangePacket(frontpanel::MakeLinePacket(packet::kDisplayLine1, text));
  });
}

void TForm1::SendLine2Text() {
  Guarded(report_, [&] {
    ExchangePacket(frontpanel::MakeLinePacket(packet::kDisplayLine2, displayLine2Text_));
  });
}

void TForm1::ComposeDisplayLine2() {
  try {
    frontpanel::Line2Inputs in;
    for (int n = 1; n <= 5; ++n) in.temperatures[static_cast<std::size_t>(n - 1)] = SensorTable[n].Temperature;
    in.celsius = CelsiusFlag;
    in.displayType = Device.Settings.DisplayType();
    in.cpuSpeedMHz = CpuSpeedMHz ? CpuSpeedMHz->load() : 0;
    in.cpuLoadPercent = CpuLoadPercent ? CpuLoadPercent->load() : 0;
    displayLine2Text_ = frontpanel::ComposeLine2(ui_->DispParam1->currentIndex(),
                                                 ui_->DispParam2->currentIndex(),
                                                 ui_->DispParam3->currentIndex(), in);
  } catch (const std::exception& e) {
    report_(ErrorReportText(e));
    return;
  }
  SendLine2Text();
}

void TForm1::DispParamChange() {
  Pending.Raise(PendingDisplayParams);
  ComposeDisplayLine2();
}

void TForm1::DisplayIntervalTimerTimer() {
  SendLine1Text(Line1ShowsPrimary ? ui_->PrimaryTextComboBox->currentText()
                                   : ui_->SecondaryTextComboBox->currentText());
  Line1ShowsPrimary = !Line1ShowsPrimary;
  // Typed texts are kept from one tick to the next. Opening the file every
  // five seconds only to find the same texts in it would be most of what the
  // program does at rest, so an unchanged file with unchanged texts is left
  // alone.
  const QString primary = ui_->PrimaryTextComboBox->currentText();
  const QString secondary = ui_->SecondaryTextComboBox->currentText();
  if (primary == savedPrimaryText_ && secondary == savedSecondaryText_ && savedTextsStamp_.exists &&
      SettingsKey::Stamp(services_.settingsPath) == savedTextsStamp_)
    return;
  savedTextsStamp_ = {};
  Guarded(report_, [&] {
    SettingsKey key(services_.settingsPath, SettingsKey::Open::CreateIfMissing);
    key.WriteString(settings::kDisplayLine1Primary, primary);
    key.WriteString(settings::kDisplayLine1Secondary, secondary);
    savedPrimaryText_ = primary;
    savedSecondaryText_ = secondary;
    savedTextsStamp_ = SettingsKey::Stamp(services_.settingsPath);
  });
}

void TForm1::DispLine1IntChange() {
  Guarded(report_, [&] {
    const int item = ui_->DispLine1Int->currentIndex();
    if (settings::HasDisplayInterval(item)) {
      // Only the period changes: a timer stopped by "Never" stays stopped.
      DisplayIntervalTimer.setInterval(settings::DisplayIntervalMs(item));
    } else if (item == static_cast<int>(settings::kDisplayIntervalMs.size())) {
      DisplayIntervalTimer.setInterval(9999999);
      DisplayIntervalTimer.stop();
    }
    SettingsKey key(services_.settingsPath, SettingsKey::Open::CreateIfMissing);
    key.WriteInteger(settings::kDisplayUpdateInterval, item);
  });
}

// ---------------------------------------------------------------------------
// Fans

void TForm1::FanModeChange(int fan) {
  Guarded(report_, [&] {
    QComboBox* mode = fan == 0 ? ui_->FrontFanModeComboBox : ui_->RearFanModeComboBox;
    QSlider* bar = fan == 0 ? ui_->FrontFanManual : ui_->RearFanManual;
    const int item = mode->currentIndex();
    const bool manual = item == kManualMode;
    bar->setEnabled(manual);
    SetSliderThumbVisible(bar, manual);

    const bool anyManual = ui_->FrontFanModeComboBox->currentIndex() == kManualMode ||
                           ui_->RearFanModeComboBox->currentIndex() == kManualMode;
    ui_->ManualLabel->setEnabled(anyManual);
    const bool anyBar = ui_->FrontFanManual->isEnabled() || ui_->RearFanManual->isEnabled();
    ui_->FanMinLabel->setEnabled(anyBar);
    ui_->FanMaxLabel->setEnabled(anyBar);

    if (item >= 0 && item < kManualMode) {
      const FanPreset preset = kFanPresets[item];
      auto& words = Device.FanBoot.Words;
      words[0] = kPresetWord0;
      words[fan == 0 ? FanBootBlock::kFrontFirst : FanBootBlock::kRearFirst] = preset.first;
      words[fan == 0 ? FanBootBlock::kFrontSecond : FanBootBlock::kRearSecond] = preset.second;
      Pending.Raise(PendingFanBlock);
      // The bar only shows the speed here; it is not a manual choice.
      QSignalBlocker block(bar);
      bar->setValue((preset.first + preset.second) / 2);
    }
  });
}

void TForm1::FanManualChange(int fan) {
  QSlider* bar = fan == 0 ? ui_->FrontFanManual : ui_->RearFanManual;
  const int position = bar->value();
  auto& words = Device.FanBoot.Words;
  words[fan == 0 ? FanBootBlock::kFrontFirst : FanBootBlock::kRearFirst] = position;
  words[fan == 0 ? FanBootBlock::kFrontSecond : FanBootBlock::kRearSecond] = position;
  Pending.Raise(PendingFanBlock);
}

void TForm1::SetFansToNormalAndSend() {
  auto& words = Device.FanBoot.Words;
  words[0] = kPresetWord0;
  words[FanBootBlock::kFrontFirst] = words[FanBootBlock::kRearFirst] = kFanPresets[0].first;
  words[FanBootBlock::kFrontSecond] = words[FanBootBlock::kRearSecond] = kFanPresets[0].second;
  SendFanBootBlock();
}
