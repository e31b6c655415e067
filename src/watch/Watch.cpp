// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/Watch.h"

#include "config/SettingsKey.h"
#include "config/SettingsStore.h"
#include "monitor/DeviceData.h"
#include "device/UnitLink.h"
#include "host/CPUThread.h"
#include "host/CpuSources.h"

Watch::Watch(const Services& services, WatchFace& face, ReportFunction report, QObject* parent)
    : QObject(parent), services_(services), face_(face), report_(std::move(report)) {
  if (services_.settingsPath.isEmpty()) services_.settingsPath = SettingsKey::DefaultPath();
  UnitExchange::Context exchange;
  exchange.link = services_.link;
  exchange.report = report_;
  exchange.notice = [this](const QString& text) {
    if (statusQueue_) statusQueue_->Append(text);
  };
  exchange_ = std::make_unique<UnitExchange>(std::move(exchange));
  connect(exchange_.get(), &UnitExchange::linkStateChanged, this, &Watch::linkStateChanged);
  alarms_ = std::make_unique<Alarms>(
      model_, static_cast<AlarmsContext&>(*this),
      Alarms::Seams{services_.sound, services_.powerOff, services_.clock, services_.settingsPath, report_});
  logs_ = std::make_unique<Logs>(model_, static_cast<LogsContext&>(*this), *services_.clock, report_);
  statusCycle_ = std::make_unique<StatusCycle>(model_, *alarms_, static_cast<StatusCycleContext&>(*this),
                                               *services_.clock, report_);
  frontPanel_ = std::make_unique<FrontPanel>(static_cast<FrontPanelContext&>(*this),
                                             FrontPanel::Seams{services_.settingsPath, report_});
  StatusCycle* cycle = statusCycle_.get();
  exchange_->SetDecoder(1, [cycle](const QByteArray& payload) { cycle->ComDataPacket1Packet(cycle, payload); });
  exchange_->SetDecoder(2, [cycle](const QByteArray& payload) { cycle->ComDataPacket2Packet(cycle, payload); });
  exchange_->SetDecoder(3, [cycle](const QByteArray& payload) { cycle->ComDataPacket3Packet(cycle, payload); });
  exchange_->SetDecoder(6, [cycle](const QByteArray& payload) { cycle->ComDataPacket6Packet(cycle, payload); });
  exchange_->SetDecoder(7, [cycle](const QByteArray& payload) { cycle->ComDataPacket7Packet(cycle, payload); });
  connect(cycle, &StatusCycle::statusSampled, this, &Watch::statusSampled);

  UpdateDataTimer.setInterval(3000);
  connect(&UpdateDataTimer, &QTimer::timeout, this, &Watch::UpdateDataTimerTimer);
}

// The sampler thread ends first (it is the last member), before the values it writes.
Watch::~Watch() = default;

int Watch::SampledCpuClock() const { return cpuSpeedMHz_ ? static_cast<int>(*cpuSpeedMHz_) : 0; }

int Watch::SampledCpuLoad() const { return cpuLoadPercent_ ? static_cast<int>(*cpuLoadPercent_) : 0; }

CPUThread& Watch::CreateCpuSampler() {
  cpuSpeedMHz_ = std::make_unique<RelaxedAtomic<int>>(0);
  cpuLoadPercent_ = std::make_unique<RelaxedAtomic<int>>(0);
  ICpuSources* sources = services_.cpu;
  if (!sources) {
    ownCpuSources_ = MakeSystemCpuSources();
    sources = ownCpuSources_.get();
  }
  cpuThread_ = std::make_unique<CPUThread>(true, cpuSpeedMHz_.get(), cpuLoadPercent_.get(), *sources);
  // Delivered here, on the watch's thread.
  connect(cpuThread_.get(), &CPUThread::ErrorRaised, this,
          [this](const QString& message) { report_(QStringLiteral("Error: ") + message); });
  return *cpuThread_;
}

void Watch::StopCpuSampler() {
  if (!cpuThread_) return;
  cpuThread_->TerminateAndWait();
  cpuThread_.reset();
}

void Watch::UpdateDataTimerTimer() {
  if (Terminating()) return;
  Guarded(report_, [&] {
    frontPanel_->ComposeDisplayLine2();
    ExchangePacket(packet::MakeReadRequest(packet::kStatus));
    face_.Polled();
  });
}

void Watch::RequestInitialBlocks() {
  for (std::uint8_t number : {packet::kStatus, packet::kUnitSettings, packet::kFanBoot,
                              packet::kDisplayLine1}) {
    ExchangePacket(packet::MakeReadRequest(number));
    services_.clock->Pause(50);
  }
}

void Watch::StartWatching(SettingsStore& settings, const std::function<void()>& startPeriodicTimers) {
  logs_->WriteOperationLogSnapshot();
  settings.ClearPendingFlags();
  frontPanel_->Line1ShowsPrimary = true;
  RequestInitialBlocks();
  startPeriodicTimers();
  // The fans' packet goes out just below, not with the next write tick.
  settings.Pending.Lower(PendingFanBlock);
  services_.clock->Pause(100);
  SetFansToNormalAndSend(settings);
  // The last close blanked line 1; with "Never" the alternation would not
  // fill it again for hours.
  if (!face_.AlternationChosen()) frontPanel_->SendLine1Text(face_.PrimaryText());
}

void Watch::SetFansToNormalAndSend(SettingsStore& settings) {
  fanpresets::SetBothNormal(Device.FanBoot);
  settings.SendFanBootBlock();
}

void Watch::SendBlankDisplayLines() {
  packet::Payload blank;
  blank.fill(0x20);
  for (std::uint8_t number : {packet::kDisplayLine1, packet::kDisplayLine2}) {
    try {
      ExchangePacket(packet::MakeWritePacket(number, blank));
    } catch (...) {
      // The front panel keeps its last text; nothing else depends on it.
    }
  }
}

void Watch::Close() {
  // The sampler writes into what follows, so it ends first.
  StopCpuSampler();
  cpuSpeedMHz_.reset();
  cpuLoadPercent_.reset();
  logs_->Close();
  statusQueue_.reset();
  services_.link->CloseUnit();
}
