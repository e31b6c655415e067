// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The watch of the unit as one object: the exchange, the model of the unit's
// condition, the status cycle, the alarms, the logs, the front panel, the CPU
// sampler and the status-bar queue, and the data poll that drives them. It
// runs the same under the window and in a program without one: what is shown,
// and the choices a user has made, come from its face.

#include "config/FrontPanel.h"
#include "config/PendingWrites.h"
#include "core/Guard.h"
#include "core/Services.h"
#include "core/StatusMessageQueue.h"
#include "device/UnitExchange.h"
#include "logs/Logs.h"
#include "monitor/Alarms.h"
#include "monitor/RelaxedAtomic.h"
#include "monitor/StatusCycle.h"
#include "monitor/UnitModel.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class CPUThread;
class SettingsStore;
class ICpuSources;

// What the watch shows, and the choices it reads, wherever it runs. The
// window shows it in its controls; a program without one keeps the stored
// choices and tells of changes in its messages.
class WatchFace {
 public:
  virtual ~WatchFace() = default;
  // The alarm action chosen (WarningHandlingComboBox): 0 sound, 1 blinking
  // icon, 2 open the window, 3 nothing.
  virtual int WarningHandling() const = 0;
  // The notification-area icon (TrayIcon1): blinking on or off, a picture;
  // the blink stopped before every cycle.
  virtual void AnimateTrayIcon(bool on) = 0;
  virtual void ShowTrayPicture(int index) = 0;
  virtual void StopTrayBlink() = 0;
  virtual void OpenWindow() = 0;  // Open1Click
  // Whether a status reply runs the whole cycle; until then it only updates
  // the readings.
  virtual bool CycleWanted() const = 0;
  // The model's status panel (SystemStatPanel), drawn at once where `now`;
  // the state panels; the readings; the Setup tab's sensor rows; the hours.
  virtual void ShowStatus(bool now) = 0;
  virtual void ShowStatusPanel() = 0;
  virtual void ShowSensorStates() = 0;
  virtual void ShowTemperatures() = 0;
  virtual void ShowFans() = 0;
  virtual void RefreshSetupRows() = 0;
  virtual void ShowOperatingHours() = 0;
  virtual void ShowOperatingHoursNow() = 0;
  // A data poll went out (the load graph shows from the first one).
  virtual void Polled() = 0;
  // Line 1's texts (PrimaryTextComboBox, SecondaryTextComboBox), whether an
  // interval is chosen for their alternation (DispLine1Int), line 2's items.
  virtual QString PrimaryText() const = 0;
  virtual void SetPrimaryText(const QString& text) = 0;
  virtual QString SecondaryText() const = 0;
  virtual bool AlternationChosen() const = 0;
  virtual int DisplayParam(int number) const = 0;
  // What a log snapshot records of the settings chosen.
  virtual SnapshotSettings CurrentSettings() const = 0;
  virtual void OfferToClearOperationLog(int sizeKb) = 0;
  // The settings: a pending write raised, everything back to its default.
  virtual void RaisePending(PendingWrite write) = 0;
  virtual void ResetSettingsToDefaults() = 0;
};

class Watch : public QObject,
              private AlarmsContext,
              private StatusCycleContext,
              private LogsContext,
              private FrontPanelContext {
  Q_OBJECT
 public:
  // services.settingsPath empty: the user's own settings file.
  Watch(const Services& services, WatchFace& face, ReportFunction report, QObject* parent = nullptr);
  ~Watch() override;

  const Services& Seams() const { return services_; }
  UnitExchange& Exchange() { return *exchange_; }
  UnitModel& Model() { return model_; }
  Alarms& Alarm() { return *alarms_; }
  StatusCycle& Cycle() { return *statusCycle_; }
  Logs& Log() { return *logs_; }
  FrontPanel& Panel() { return *frontPanel_; }

  // The status bar's queue, from start-up until the close path.
  StatusMessageQueue* Queue() const override { return statusQueue_.get(); }
  void CreateQueue() { statusQueue_ = std::make_unique<StatusMessageQueue>(); }

  // True once the program has decided to end (no unit at start, or closing).
  bool Terminating() const override { return terminating_; }
  void SetTerminating() { terminating_ = true; }

  void ExchangePacket(const std::uint8_t* request) { exchange_->ExchangePacket(request); }
  void ExchangePacket(const packet::Request& request) override { exchange_->ExchangePacket(request); }

  // The CPU clock rate (MHz) and load (%): written by the sampler thread and
  // read without a lock; they exist from start-up until the sampler has ended.
  RelaxedAtomic<int>* CpuSpeedMHz() const { return cpuSpeedMHz_.get(); }
  RelaxedAtomic<int>* CpuLoadPercent() const { return cpuLoadPercent_.get(); }
  // Measures the clock rate (about a second) and makes the sampler, not yet
  // running: whoever shows its results connects them first.
  CPUThread& CreateCpuSampler();
  // Null until made, and again after StopCpuSampler.
  CPUThread* CpuSampler() const { return cpuThread_.get(); }
  // Ends the sampler, then the two values it writes.
  void StopCpuSampler();

  // The data poll: line 2, then the status request.
  QTimer UpdateDataTimer;
  void UpdateDataTimerTimer();
  // At start, the four blocks the watch begins with.
  void RequestInitialBlocks();
  // The start once the settings are loaded: one operation-log record of
  // them, the four blocks, the periodic work (started by the caller, which
  // may have timers of its own), the fans at normal, line 1 where it does
  // not alternate. Nothing of the start-up state is written back.
  void StartWatching(SettingsStore& settings, const std::function<void()>& startPeriodicTimers);
  void SetFansToNormalAndSend(SettingsStore& settings);
  // At the close, the front panel blanked.
  void SendBlankDisplayLines();
  // The close path's last step: the queue, the logs and the link are gone.
  void Close();

 signals:
  // After every decoded status reply, once the status cycle has run on it.
  void statusSampled(const StatusSample& sample);
  // The link went down (an exchange failed) or came back (a reply arrived);
  // emitted on the change only.
  void linkStateChanged(bool up);

 private:
  // The contexts: what is the watch's own is answered here, the rest by the face.
  int WarningHandling() const override { return face_.WarningHandling(); }
  void AnimateTrayIcon(bool on) override { face_.AnimateTrayIcon(on); }
  void ShowTrayPicture(int index) override { face_.ShowTrayPicture(index); }
  void OpenWindow() override { face_.OpenWindow(); }
  void ShowStatus(bool now) override { face_.ShowStatus(now); }
  void ShowSensorStates() override { face_.ShowSensorStates(); }
  QString PrimaryText() const override { return face_.PrimaryText(); }
  void SetPrimaryText(const QString& text) override { face_.SetPrimaryText(text); }
  bool AlternationRunning() const override { return frontPanel_->AlternationRunning(); }
  bool AlternationChosen() const override { return face_.AlternationChosen(); }
  void SetAlternation(bool on) override { frontPanel_->SetAlternation(on); }
  void RaisePending(PendingWrite write) override { face_.RaisePending(write); }
  void WriteErrorLogSnapshot() override { logs_->WriteErrorLogSnapshot(); }
  void ResetSettingsToDefaults() override { face_.ResetSettingsToDefaults(); }
  bool CycleWanted() const override { return face_.CycleWanted(); }
  void RefreshSetupRows() override { face_.RefreshSetupRows(); }
  void ShowStatusPanel() override { face_.ShowStatusPanel(); }
  void StopTrayBlink() override { face_.StopTrayBlink(); }
  void ShowTemperatures() override { face_.ShowTemperatures(); }
  void ShowFans() override { face_.ShowFans(); }
  void ShowOperatingHours() override { face_.ShowOperatingHours(); }
  int SampledCpuClock() const override;
  int SampledCpuLoad() const override;
  SnapshotSettings CurrentSettings() const override { return face_.CurrentSettings(); }
  void ShowOperatingHoursNow() override { face_.ShowOperatingHoursNow(); }
  void OfferToClearOperationLog(int sizeKb) override { face_.OfferToClearOperationLog(sizeKb); }
  QString SecondaryText() const override { return face_.SecondaryText(); }
  int DisplayParam(int number) const override { return face_.DisplayParam(number); }

  Services services_;
  WatchFace& face_;
  ReportFunction report_;
  bool terminating_ = false;
  UnitModel model_;
  std::unique_ptr<StatusMessageQueue> statusQueue_;
  std::unique_ptr<UnitExchange> exchange_;
  std::unique_ptr<Alarms> alarms_;
  std::unique_ptr<Logs> logs_;
  std::unique_ptr<StatusCycle> statusCycle_;
  std::unique_ptr<FrontPanel> frontPanel_;
  std::unique_ptr<RelaxedAtomic<int>> cpuSpeedMHz_;
  std::unique_ptr<RelaxedAtomic<int>> cpuLoadPercent_;
  std::unique_ptr<ICpuSources> ownCpuSources_;
  std::unique_ptr<CPUThread> cpuThread_;  // ends before the two values it writes
};
