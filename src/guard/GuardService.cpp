// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/GuardService.h"

#include "config/FrontPanel.h"
#include "config/SettingsValues.h"
#include "core/ProgramName.h"
#include "device/UnitLink.h"
#include "guard/GuardJournal.h"
#include "guard/HandOver.h"
#include "guard/ServiceManager.h"
#include "history/HistoryRecorder.h"
#include "host/CPUThread.h"
#include "monitor/DeviceData.h"
#include "status/MetricsFile.h"

#include <QDir>

namespace {

constexpr int kIgnoreWarnings = 3;  // the alarm action "Ignore": the journal tells instead
constexpr int kWaitForUnitMs = 3000;

// Nobody answers a box here: what the window would show in one goes to the
// journal, and every question is answered as if cancelled.
class JournalBoxes : public IMessageBoxes {
 public:
  void ShowMessage(const QString& text) override { SayInJournal(QtWarningMsg, text); }
  void ShowReport(QWidget*, const QString& text) override { SayInJournal(QtCriticalMsg, text); }
  void ShowMessageWithDetail(const QString& text, const QString& detail) override {
    SayInJournal(QtWarningMsg, text + QLatin1Char(' ') + detail);
  }
  bool AskOkCancel(const QString&, const QString&) override { return false; }
  int ExecModal(QDialog&) override { return 0; }
};

// No sound server serves a system service; the journal holds the alarm.
class NoSound : public ISound {
 public:
  void PlaySync(const QString&) override {}
};

// The power-off said in the journal before it is asked for.
class AnnouncedPowerOff : public IPowerOff {
 public:
  explicit AnnouncedPowerOff(IPowerOff* system) : system_(system) {}
  void RequestPowerOff() override {
    SayInJournal(QtCriticalMsg, QStringLiteral("Powering the computer off: the emergency shutdown fell due; "
                                               "the unit gets its shutdown notice in 10 s"));
    if (system_) system_->RequestPowerOff();
  }

 private:
  IPowerOff* system_;
};

}  // namespace

GuardService::GuardService(Seams seams, QObject* parent) : QObject(parent), seams_(std::move(seams)) {
  boxes_ = std::make_unique<JournalBoxes>();
  sound_ = std::make_unique<NoSound>();
  powerOff_ = std::make_unique<AnnouncedPowerOff>(seams_.powerOff);
  services_.link = seams_.link;
  services_.boxes = boxes_.get();
  services_.clock = seams_.clock;
  services_.sound = sound_.get();
  services_.powerOff = powerOff_.get();
  services_.settingsPath = SetupPath();
  services_.cpu = seams_.cpu;
  services_.logFolder = seams_.folders.state + QLatin1Char('/');
  report_ = [](const QString& text) { SayInJournal(QtCriticalMsg, text); };

  watch_ = std::make_unique<Watch>(services_, static_cast<WatchFace&>(*this), report_);
  settings_ = std::make_unique<SettingsStore>(static_cast<SettingsStoreContext&>(*this), watch_->Panel(),
                                              SettingsStore::Seams{services_.settingsPath, report_});
  // After the watch's own handler: the tick is complete when this runs.
  connect(&watch_->UpdateDataTimer, &QTimer::timeout, this, &GuardService::PollTicked);

  journal_ = std::make_unique<GuardJournal>(SayInJournal);
  connect(watch_.get(), &Watch::statusSampled, journal_.get(), &GuardJournal::OnStatusSampled);
  connect(watch_.get(), &Watch::linkStateChanged, journal_.get(), &GuardJournal::OnLinkStateChanged);

  handedOverTimer_.setInterval(kWaitForUnitMs);
  connect(&handedOverTimer_, &QTimer::timeout, this, [this] {
    if (seams_.manager) seams_.manager->Alive();
  });
  unitWaitTimer_.setInterval(kWaitForUnitMs);
  connect(&unitWaitTimer_, &QTimer::timeout, this, &GuardService::TryOpenUnit);
}

GuardService::~GuardService() {
  if (watch_) watch_->StopCpuSampler();
}

QString GuardService::SetupPath() const { return seams_.folders.state + QStringLiteral("/sensors.conf"); }

void GuardService::Start() {
  for (const QString& problem : seams_.config.problems) SayInJournal(QtWarningMsg, problem);
  QDir().mkpath(seams_.folders.state);
  history_ = std::make_unique<HistoryRecorder>(seams_.folders.state + QStringLiteral("/history.sqlite"));
  connect(watch_.get(), &Watch::statusSampled, this, [this](const StatusSample& s) { history_->Sampled(s); });
  connect(watch_.get(), &Watch::linkStateChanged, this,
          [this](bool up) { history_->LinkChanged(up, seams_.clock->Now()); });
  if (!seams_.config.metricsFile.isEmpty()) {
    metrics_ = std::make_unique<MetricsFile>(
        seams_.config.metricsFile, ProgramVersion(), watch_->Cycle().LastSample(), watch_->Exchange().LinkUp(),
        [](const QString& text) { SayInJournal(QtWarningMsg, text); }, [this] { return seams_.clock->Now(); });
    connect(watch_.get(), &Watch::statusSampled, metrics_.get(), &MetricsFile::OnStatusSampled);
    connect(watch_.get(), &Watch::linkStateChanged, metrics_.get(), &MetricsFile::OnLinkStateChanged);
  }
  if (seams_.manager) seams_.manager->Ready();
  TryOpenUnit();
}

void GuardService::TryOpenUnit() {
  if (stopped_ || watching_ || handedOver_) return;
  bool open = false;
  Guarded(report_, [&] { open = seams_.link->OpenUnit(); });
  if (!open) {
    if (!waitSaid_) {
      const auto ids = seams_.link->UnitIds();
      SayInJournal(QtWarningMsg,
                   QStringLiteral("Waiting for the unit (USB ids %1) to be plugged in")
                       .arg(QString::fromStdString(FormatUnitUsbId(ids ? *ids : UnitUsbIds))));
      waitSaid_ = true;
    }
    if (seams_.manager) {
      seams_.manager->Status(QStringLiteral("Waiting for the unit"));
      seams_.manager->Alive();
    }
    unitWaitTimer_.start();
    return;
  }
  unitWaitTimer_.stop();
  BeginWatching();
}

void GuardService::BeginWatching() {
  watching_ = true;
  SayInJournal(QtInfoMsg, QStringLiteral("Watching the unit; the sensor setup comes from %1").arg(SetupPath()));
  watch_->Exchange().SetStarted(true);
  if (!startedOnce_) {
    startedOnce_ = true;
    watch_->CreateCpuSampler().start();
    watch_->CreateQueue();
    watch_->Log().Open(services_.logFolder);
  }
  try {
    LoadSetup();
    // One operation-log record per start, of the setup just loaded.
    watch_->StartWatching(*settings_, [this] { StartPeriodicTimers(); });
  } catch (const std::exception& e) {
    report_(ErrorReportText(e));
    // The unit is watched whatever step failed.
    if (!watch_->UpdateDataTimer.isActive()) StartPeriodicTimers();
  }
  if (seams_.manager) seams_.manager->Status(QStringLiteral("Watching the unit"));
}

void GuardService::LoadSetup() {
  ResetSettingsToDefaults();
  settings_->LoadSensorSettings();
  settings_->LoadDisplaySettings();
  settings_->LoadUnitSettings();
  // The limits the guard keeps are in Celsius whatever a hand-edited file says.
  CelsiusFlag = true;
  const LoadedSettings& loaded = settings_->Loaded();
  for (std::size_t i = 0; i < displayParams_.size(); ++i)
    if (loaded.displayParams[i]) displayParams_[i] = *loaded.displayParams[i];
  if (loaded.line1Primary) primaryText_ = *loaded.line1Primary;
  if (loaded.line1Secondary) secondaryText_ = *loaded.line1Secondary;
  if (loaded.bootIndex) bootIndex_ = *loaded.bootIndex;
  if (loaded.displayInterval) displayInterval_ = *loaded.displayInterval;
  if (settings::HasDisplayInterval(displayInterval_))
    watch_->Panel().DisplayIntervalTimer.setInterval(settings::DisplayIntervalMs(displayInterval_));
}

void GuardService::StartPeriodicTimers() {
  settings_->WriteChangesTimer.start();
  watch_->Panel().DisplayIntervalTimer.start();
  watch_->Log().MaintainTimer.start();
  watch_->Log().HoursRunTimer.start();
  watch_->UpdateDataTimer.start();
}

void GuardService::StopPeriodicTimers() {
  for (QTimer* t : {&watch_->Log().MaintainTimer, &watch_->Log().HoursRunTimer, &watch_->UpdateDataTimer,
                    &watch_->Panel().DisplayIntervalTimer, &settings_->WriteChangesTimer})
    t->stop();
}

void GuardService::GiveHoursBack() {
  // The unit keeps the running hours counted here; before it has reported
  // them there is nothing to give back.
  if (watch_->Model().operatingHours <= 0) return;
  Device.Settings.SetOperatingHours(watch_->Model().operatingHours);
  settings_->SendUnitSettings();
}

QByteArray GuardService::Release() {
  Alarms& alarms = watch_->Alarm();
  if (alarms.ShutDownTimer.isActive() || alarms.ShutdownSequenceRunning()) {
    const int left = alarms.ShutdownSequenceRunning() ? 0 : alarms.ShutDownTimer.remainingTime() / 1000;
    SayInJournal(QtWarningMsg, QStringLiteral("Kept the unit from a control centre: the emergency shutdown is "
                                              "armed (%1 s left)")
                                   .arg(left));
    return "armed " + QByteArray::number(left);
  }
  if (stopped_) return "refused";
  // The front panel keeps its text: the control centre writes its own.
  unitWaitTimer_.stop();
  if (watching_) {
    StopPeriodicTimers();
    settings_->ClearPendingFlags();
    GiveHoursBack();
    watch_->Exchange().SetStarted(false);
    Guarded(report_, [&] { seams_.link->CloseUnit(); });
  }
  watching_ = false;
  handedOver_ = true;
  handedOverTimer_.start();
  if (seams_.manager) seams_.manager->Status(QStringLiteral("A control centre holds the unit"));
  return "released";
}

void GuardService::StoreSetup(const QByteArray& json) {
  const std::optional<HandedSetup> setup = ParseSetup(json);
  if (!setup) {
    SayInJournal(QtWarningMsg, QStringLiteral("Ignored a sensor setup that could not be read"));
    return;
  }
  // The guard's limits are Celsius (CelsiusFlag stays true here).
  for (int n = 1; n <= kSensorCount; ++n) {
    const HandedSensor& handed = (*setup)[static_cast<std::size_t>(n - 1)];
    SensorRecord& r = SensorTable[n];
    if (n > 1) {
      r.Name = handed.name;
      r.Higher = handed.higher;
    }
    r.WarningLimit = handed.warningCelsius;
    r.ShutdownLimit = handed.shutdownCelsius;
  }
  settings_->SaveSensorNames();
  settings_->SaveHigherLower();
  settings_->SaveWarningLimits();
  settings_->SaveShutdownLimits();
  SayInJournal(QtInfoMsg, QStringLiteral("Stored the sensor setup the control centre handed over"));
}

void GuardService::TakeBack() {
  if (!handedOver_ || stopped_) return;
  handedOver_ = false;
  handedOverTimer_.stop();
  waitSaid_ = false;
  TryOpenUnit();
}

void GuardService::PollTicked() {
  // The status bar's texts have no bar here; the journal has said what matters.
  if (StatusMessageQueue* queue = watch_->Queue())
    while (!queue->IsEmpty()) queue->TakeFirst();
  if (seams_.manager) seams_.manager->Alive();
}

void GuardService::Stop() {
  if (stopped_) return;
  stopped_ = true;
  if (seams_.manager) seams_.manager->Stopping();
  unitWaitTimer_.stop();
  handedOverTimer_.stop();
  if (watching_) {
    StopPeriodicTimers();
    GiveHoursBack();
    watch_->SendBlankDisplayLines();
  }
  watch_->SetTerminating();
  Guarded(report_, [&] {
    if (startedOnce_)
      watch_->Close();
    else
      seams_.link->CloseUnit();
  });
  SayInJournal(QtInfoMsg, QStringLiteral("Stopped"));
  emit finished();
}

// ---------------------------------------------------------------------------
// The stored choices

int GuardService::WarningHandling() const { return kIgnoreWarnings; }

bool GuardService::AlternationChosen() const { return settings::HasDisplayInterval(displayInterval_); }

int GuardService::DisplayParam(int number) const {
  return displayParams_.at(static_cast<std::size_t>(number - 1));
}

SnapshotSettings GuardService::CurrentSettings() const {
  return {primaryText_, secondaryText_, watch_->Panel().DisplayIntervalTimer.interval(), QStringLiteral("Ignore"),
          BootTempText(), 0};
}

void GuardService::OfferToClearOperationLog(int sizeKb) {
  // Nobody is asked, and nothing is thrown away unasked.
  SayInJournal(QtWarningMsg, QStringLiteral("The operation log in %1 has grown to %2 KB; it is kept as it is")
                                 .arg(seams_.folders.state)
                                 .arg(sizeKb));
}

void GuardService::ResetSettingsToDefaults() {
  ResetSensorLimitsToDefaults();
  primaryText_ = settings::kDefaultLine1Primary;
  secondaryText_ = settings::kDefaultLine1Secondary;
  displayParams_ = settings::kDefaultDisplayParams;
  displayInterval_ = settings::kDefaultDisplayInterval;
  bootIndex_ = settings::kDefaultBootIndex;
  settings_->Pending.RaiseAll();
}

int GuardService::HigherLowerChoice(int sensor) const { return SensorTable[sensor].Higher ? 0 : 1; }

QString GuardService::SensorNameText(int sensor) const { return SensorTable[sensor].Name; }

int GuardService::WarningLimitValue(int sensor) const { return SensorTable[sensor].WarningLimit; }

int GuardService::ShutdownLimitValue(int sensor) const { return SensorTable[sensor].ShutdownLimit; }
