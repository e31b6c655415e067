// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The unit's two-line, 16-character front panel: how a line of text becomes a
// write packet, how line 2 is composed from three chosen readings, and the
// panel itself (line 1's alternation, line 2's refresh). Also the fan presets,
// which fill the packet-03 block the same way the panel fills 06 and 07. No
// widget here: the texts and choices come through the context the window,
// or a service without one, provides.

#include "config/PendingWrites.h"
#include "config/SettingsKey.h"
#include "core/Guard.h"
#include "device/Packet.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <optional>

struct FanBootBlock;

namespace frontpanel {

constexpr int kLineWidth = 16;
constexpr int kPaddedWidth = 25;

// The display's character set. Characters it cannot show become '?'.
QByteArray ToWindows1252(const QString& text);

// Write packet 06 (line 1) or 07 (line 2): the text padded with spaces, its
// first 16 characters, then eight spaces.
packet::Request MakeLinePacket(std::uint8_t number, const QString& text);

// What each line-2 parameter needs to know.
struct Line2Inputs {
  std::array<int, 5> temperatures{};  // whole degrees Celsius, sensors 1..5
  bool celsius = true;
  char displayType = 0;  // 'W' or 'E' choose the unit's degree glyph
  int cpuSpeedMHz = 0;
  int cpuLoadPercent = 0;
};

// One parameter: 0..4 a sensor temperature, 5 CPU speed, 6 CPU load, 7 blank;
// anything else (no selection) contributes nothing.
QString Line2Piece(int item, const Line2Inputs& in);
QString ComposeLine2(int param1, int param2, int param3, const Line2Inputs& in);

}  // namespace frontpanel

// What the front panel reaches beyond itself and the process-wide records.
class FrontPanelContext {
 public:
  virtual ~FrontPanelContext() = default;
  // Line 1's two texts (PrimaryTextComboBox, SecondaryTextComboBox), whatever
  // they hold, list item or typed.
  virtual QString PrimaryText() const = 0;
  virtual QString SecondaryText() const = 0;
  // The item chosen for line-2 parameter 1..3 (DispParam1..3); -1 for none.
  virtual int DisplayParam(int number) const = 0;
  // The CPU sampler's last clock rate (MHz) and load (%); 0 without it.
  virtual int SampledCpuClock() const = 0;
  virtual int SampledCpuLoad() const = 0;
  virtual void ExchangePacket(const packet::Request& request) = 0;
};

class FrontPanel : public QObject {
  Q_OBJECT
 public:
  struct Seams {
    QString settingsPath;
    ReportFunction report;
  };

  FrontPanel(FrontPanelContext& context, Seams seams, QObject* parent = nullptr);

  // Line 1's alternation; stopped by "Never" for the rest of the run, and
  // while an emergency holds line 1.
  QTimer DisplayIntervalTimer;
  // Which text the next alternation tick sends.
  bool Line1ShowsPrimary = true;

  void SendLine1Text(const QString& text);
  void SendLine2Text();
  void ComposeDisplayLine2();
  void DisplayIntervalTimerTimer();
  // The interval list's item chosen: its period, or "Never"; saved at once.
  void DispLine1IntChange(int item);

  bool AlternationRunning() const { return DisplayIntervalTimer.isActive(); }
  void SetAlternation(bool on);

  // Line 2 as last composed; empty before the first composition.
  const QString& DisplayLine2Text() const { return displayLine2Text_; }

 private:
  FrontPanelContext& context_;
  Seams seams_;
  QString displayLine2Text_;
  // Line 1's texts as last saved, and the settings file as it was then.
  QString savedPrimaryText_;
  QString savedSecondaryText_;
  SettingsFileStamp savedTextsStamp_;
};

// The fans' modes as the packet-03 block carries them. Fan 0 is the front
// (condenser) fan, 1 the rear (exhaust) fan.
namespace fanpresets {

// "Normal", "Low noise", "Turbo", then "Manual".
constexpr int kManualMode = 3;

// A mode chosen for one fan: a preset puts its pair and word 0 into the block
// and raises the block's write, and tells where the fan's bar shows it.
// "Manual" (or no choice) changes nothing until the bar moves.
std::optional<int> ChooseMode(FanBootBlock& block, PendingWrites& pending, int fan, int item);

// The fan's bar moved by the user: both values of its pair follow.
void SetManualSpeed(FanBootBlock& block, PendingWrites& pending, int fan, int position);

// Both fans "Normal", as every start leaves them; the caller sends the block.
void SetBothNormal(FanBootBlock& block);

}  // namespace fanpresets
