// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/StatusCycle.h"

#include "core/Services.h"
#include "core/StatusMessageQueue.h"
#include "monitor/Alarms.h"
#include "monitor/Conversions.h"
#include "monitor/DeviceData.h"
#include "monitor/UnitStates.h"

#include <algorithm>

StatusCycle::StatusCycle(UnitModel& model, Alarms& alarms, StatusCycleContext& context, IClock& clock,
                         ReportFunction report, QObject* parent)
    : QObject(parent),
      model_(model),
      alarms_(alarms),
      context_(context),
      clock_(clock),
      report_(std::move(report)) {}

void StatusCycle::ComDataPacket1Packet(QObject*, const QByteArray& payload) { DecodeStatusReply(payload); }

void StatusCycle::DecodeStatusReply(const QByteArray& payload) {
  alarms_.BeginReply();
  Guarded(report_, [&] {
    DecodeStatusFields(payload, Device.Status, SensorTable);
  });
  if (context_.CycleWanted()) {
    Guarded(report_, [&] {
      MarkSensorsWithoutReading();
      context_.RefreshSetupRows();
    });
    RefreshStatus();
  }
  if (context_.Terminating()) return;
  lastSample_ = MakeStatusSample();
  emit statusSampled(lastSample_);
}

void StatusCycle::MarkSensorsWithoutReading() {
  // Nothing can name such a sensor again until the next start: its row on
  // the Setup tab is disabled.
  for (int n = 2; n <= 5; ++n) {
    if (SensorTable[n].Temperature == kNoReading) SensorTable[n].Name = kSensorNotAvailable;
  }
}

void StatusCycle::RefreshStatus() {
  const UnitStateInfo state = LookupUnitState(Device.Status.UnitState);
  Device.Status.UnitState = state.code;
  model_.status = {state.caption, state.colour};
  context_.ShowStatusPanel();
  if (!state.queuedText.isEmpty()) {
    if (StatusMessageQueue* queue = context_.Queue()) queue->Append(state.queuedText);
  }
  context_.StopTrayBlink();

  alarms_.EvaluateTemperatures();
  context_.ShowTemperatures();
  context_.ShowFans();
  alarms_.AlarmDecision();
}

StatusSample StatusCycle::MakeStatusSample() const {
  StatusSample s;
  s.time = clock_.Now();
  const UnitStateInfo state = LookupUnitState(Device.Status.UnitState);
  s.unitState = state.code;
  s.unitCaption = state.caption;
  s.statusCaption = model_.status.caption;
  const PanelColour colour = model_.status.colour;
  // The blink's silver is the red of an armed shutdown between two flashes.
  if (colour == PanelColour::Red || colour == PanelColour::Silver) {
    s.statusColour = StatusColour::Red;
  } else if (colour == PanelColour::Orange) {
    s.statusColour = StatusColour::Orange;
  } else {
    s.statusColour = StatusColour::Green;
  }
  const bool celsius = CelsiusFlag;
  s.celsiusDisplay = celsius;
  for (int n = 1; n <= kSensorCount; ++n) {
    const SensorRecord& r = SensorTable[n];
    SensorSample& out = s.sensors.at(static_cast<std::size_t>(n - 1));
    out.number = n;
    out.name = n == 1 ? QStringLiteral("Evaporator") : r.Name;
    out.fitted = n == 1 || !IsUnfittedSensorName(r.Name);
    const int t = r.Temperature;
    if (t != kNoReading) out.celsius = t;
    out.level = r.Level;
    out.higher = n == 1 ? true : r.Higher;
    out.warningCelsius = celsius ? r.WarningLimit : FahrenheitToCelsius(r.WarningLimit);
    out.shutdownCelsius = celsius ? r.ShutdownLimit : FahrenheitToCelsius(r.ShutdownLimit);
  }
  s.frontFanRpm = static_cast<int>(Device.Status.FrontFanRpm);
  s.rearFanRpm = static_cast<int>(Device.Status.RearFanRpm);
  s.cpuClockMHz = context_.SampledCpuClock();
  s.cpuLoadPercent = context_.SampledCpuLoad();
  s.runningHours = model_.operatingHours;
  s.warningRaised = alarms_.AlarmRaisedThisReply();
  const QTimer& shutDown = alarms_.ShutDownTimer;
  s.shutdownArmed = shutDown.isActive();
  // A coarse timer may report a little more than its interval just after it
  // has started: three minutes are never "3:01".
  s.shutdownSecondsLeft =
      s.shutdownArmed ? (std::min(shutDown.remainingTime(), shutDown.interval()) + 999) / 1000 : 0;
  return s;
}

void StatusCycle::ComDataPacket2Packet(QObject*, const QByteArray& payload) {
  Guarded(report_, [&] {
    DecodeUnitSettingsReply(payload, Device.Settings);
    model_.operatingHours = Device.Settings.OperatingHours();
    context_.ShowOperatingHours();
  });
}

void StatusCycle::ComDataPacket3Packet(QObject*, const QByteArray& payload) {
  Guarded(report_, [&] {
    DecodeFanBootReply(payload, Device.FanBoot);
  });
}

void StatusCycle::ComDataPacket6Packet(QObject*, const QByteArray& payload) {
  Guarded(report_, [&] {
    StoreReply6(payload, Device.Store67);
  });
}

void StatusCycle::ComDataPacket7Packet(QObject*, const QByteArray& payload) {
  Guarded(report_, [&] {
    StoreReply7(payload, Device.Store67);
  });
}
