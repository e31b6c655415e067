// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/FrontPanel.h"

#include "config/SettingsValues.h"
#include "monitor/Conversions.h"
#include "monitor/DeviceData.h"

#include <exception>

namespace frontpanel {

namespace {

// Windows-1252 bytes 0x80..0x9F; 0 where the code page leaves a byte unused.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char EncodeOne(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i)
    if (kHighControls[i] != 0 && kHighControls[i] == c) return static_cast<char>(0x80 + i);
  return '?';
}

// The unit shows its own degree glyph at these codes, which on screen read as
// '²' and 'ß'.
constexpr char16_t kDegreeForW = 0x00B2;
constexpr char16_t kDegreeForE = 0x00DF;

}  // namespace

QByteArray ToWindows1252(const QString& text) {
  QByteArray out;
  out.reserve(text.size());
  for (QChar c : text) out.append(EncodeOne(c.unicode()));
  return out;
}

packet::Request MakeLinePacket(std::uint8_t number, const QString& text) {
  const QByteArray bytes = ToWindows1252(text.leftJustified(kPaddedWidth, QLatin1Char(' ')));
  packet::Payload payload;
  payload.fill(0x20);
  for (int i = 0; i < kLineWidth; ++i) payload[i] = static_cast<std::uint8_t>(bytes.at(i));
  return packet::MakeWritePacket(number, payload);
}

QString Line2Piece(int item, const Line2Inputs& in) {
  if (item >= 0 && item <= 4) {
    const int celsius = in.temperatures[static_cast<std::size_t>(item)];
    QString piece = QString::number(in.celsius ? celsius : CelsiusToFahrenheit(celsius));
    if (in.displayType == 'W') piece += QChar(kDegreeForW);
    if (in.displayType == 'E') piece += QChar(kDegreeForE);
    return piece;
  }
  switch (item) {
    case 5: return QString::number(in.cpuSpeedMHz) + QStringLiteral("MHz");
    case 6: return QString::number(in.cpuLoadPercent) + QStringLiteral("%");
    case 7: return QStringLiteral("    ");
    default: return QString();
  }
}

QString ComposeLine2(int param1, int param2, int param3, const Line2Inputs& in) {
  return Line2Piece(param1, in) + QLatin1Char(' ') + Line2Piece(param2, in) + QLatin1Char(' ') +
         Line2Piece(param3, in);
}

}  // namespace frontpanel

// ---------------------------------------------------------------------------

FrontPanel::FrontPanel(FrontPanelContext& context, Seams seams, QObject* parent)
    : QObject(parent), context_(context), seams_(std::move(seams)) {
  // Until the settings are loaded; the load sets the chosen period.
  DisplayIntervalTimer.setInterval(settings::kNeverIntervalMs);
  connect(&DisplayIntervalTimer, &QTimer::timeout, this, &FrontPanel::DisplayIntervalTimerTimer);
}

void FrontPanel::SendLine1Text(const QString& text) {
  Guarded(seams_.report, [&] {
    context_.ExchangePacket(frontpanel::MakeLinePacket(packet::kDisplayLine1, text));
  });
}

void FrontPanel::SendLine2Text() {
  Guarded(seams_.report, [&] {
    context_.ExchangePacket(frontpanel::MakeLinePacket(packet::kDisplayLine2, displayLine2Text_));
  });
}

void FrontPanel::ComposeDisplayLine2() {
  try {
    frontpanel::Line2Inputs in;
    for (int n = 1; n <= 5; ++n) in.temperatures[static_cast<std::size_t>(n - 1)] = SensorTable[n].Temperature;
    in.celsius = CelsiusFlag;
    in.displayType = Device.Settings.DisplayType();
    in.cpuSpeedMHz = context_.SampledCpuClock();
    in.cpuLoadPercent = context_.SampledCpuLoad();
    displayLine2Text_ = frontpanel::ComposeLine2(context_.DisplayParam(1), context_.DisplayParam(2),
                                                 context_.DisplayParam(3), in);
  } catch (const std::exception& e) {
    seams_.report(ErrorReportText(e));
    return;
  }
  SendLine2Text();
}

void FrontPanel::DisplayIntervalTimerTimer() {
  SendLine1Text(Line1ShowsPrimary ? context_.PrimaryText() : context_.SecondaryText());
  Line1ShowsPrimary = !Line1ShowsPrimary;
  // Typed texts are kept from one tick to the next. Opening the file every
  // five seconds only to find the same texts in it would be most of what the
  // program does at rest, so an unchanged file with unchanged texts is left
  // alone.
  const QString primary = context_.PrimaryText();
  const QString secondary = context_.SecondaryText();
  if (primary == savedPrimaryText_ && secondary == savedSecondaryText_ && savedTextsStamp_.exists &&
      SettingsKey::Stamp(seams_.settingsPath) == savedTextsStamp_)
    return;
  savedTextsStamp_ = {};
  Guarded(seams_.report, [&] {
    SettingsKey key(seams_.settingsPath, SettingsKey::Open::CreateIfMissing);
    key.WriteString(settings::kDisplayLine1Primary, primary);
    key.WriteString(settings::kDisplayLine1Secondary, secondary);
    savedPrimaryText_ = primary;
    savedSecondaryText_ = secondary;
    savedTextsStamp_ = SettingsKey::Stamp(seams_.settingsPath);
  });
}

void FrontPanel::DispLine1IntChange(int item) {
  Guarded(seams_.report, [&] {
    if (settings::HasDisplayInterval(item)) {
      // Only the period changes: a timer stopped by "Never" stays stopped.
      DisplayIntervalTimer.setInterval(settings::DisplayIntervalMs(item));
    } else if (item == static_cast<int>(settings::kDisplayIntervalMs.size())) {
      DisplayIntervalTimer.setInterval(9999999);
      DisplayIntervalTimer.stop();
    }
    SettingsKey key(seams_.settingsPath, SettingsKey::Open::CreateIfMissing);
    key.WriteInteger(settings::kDisplayUpdateInterval, item);
  });
}

void FrontPanel::SetAlternation(bool on) {
  if (on) {
    DisplayIntervalTimer.start();
  } else {
    DisplayIntervalTimer.stop();
  }
}

// ---------------------------------------------------------------------------

namespace fanpresets {

namespace {

struct FanPreset {
  int first, second;
};

// "Normal", "Low noise", "Turbo"; "Manual" takes the bar's position.
constexpr FanPreset kFanPresets[] = {{1100, 1400}, {750, 750}, {2100, 2100}};
constexpr int kPresetWord0 = 2100;

void SetPair(FanBootBlock& block, int fan, int first, int second) {
  block.Words[fan == 0 ? FanBootBlock::kFrontFirst : FanBootBlock::kRearFirst] = first;
  block.Words[fan == 0 ? FanBootBlock::kFrontSecond : FanBootBlock::kRearSecond] = second;
}

}  // namespace

std::optional<int> ChooseMode(FanBootBlock& block, PendingWrites& pending, int fan, int item) {
  if (item < 0 || item >= kManualMode) return std::nullopt;
  const FanPreset preset = kFanPresets[item];
  block.Words[0] = kPresetWord0;
  SetPair(block, fan, preset.first, preset.second);
  pending.Raise(PendingFanBlock);
  return (preset.first + preset.second) / 2;
}

void SetManualSpeed(FanBootBlock& block, PendingWrites& pending, int fan, int position) {
  SetPair(block, fan, position, position);
  pending.Raise(PendingFanBlock);
}

void SetBothNormal(FanBootBlock& block) {
  block.Words[0] = kPresetWord0;
  for (int fan : {0, 1}) SetPair(block, fan, kFanPresets[0].first, kFanPresets[0].second);
}

}  // namespace fanpresets
