// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The guard service: the watch of the unit with no one at a screen. It starts
// as the window does (the stored setup, the four blocks, the fans, line 1),
// polls every 3 s, keeps the logs, the history and the metrics in its own
// folders, arms the emergency power-off, and tells of what happens in the
// journal. After every completed poll it tells the service manager it is
// alive. Its stop runs the close path: the hours back to the unit, the front
// panel blanked, the link closed.
//
// A control centre that starts in a desktop session asks for the unit; the
// guard lets it go (the hours given back, the front panel left as it is) and
// takes it back when that control centre ends.
//
// Its choices are its own: the alarm action is the journal (there is nobody
// to hear a sound or see an icon), line 1 and line 2 show what the stored
// setup says, and the sensors carry the names and limits a control centre
// last handed over (stored in its state folder, the control centre's own
// settings format).

#include "config/SettingsStore.h"
#include "guard/GuardSetup.h"
#include "watch/Watch.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <memory>

class IServiceManager;
class GuardJournal;
class HistoryRecorder;
class MetricsFile;

class GuardService : public QObject, private WatchFace, private SettingsStoreContext {
  Q_OBJECT
 public:
  struct Seams {
    IUnitLink* link = nullptr;
    IClock* clock = nullptr;
    IPowerOff* powerOff = nullptr;  // none: nothing is asked for
    IServiceManager* manager = nullptr;
    ICpuSources* cpu = nullptr;     // none: the computer's own
    GuardFolders folders;
    GuardConfig config;
  };

  explicit GuardService(Seams seams, QObject* parent = nullptr);
  ~GuardService() override;

  // Opens the unit and starts watching it; a unit that is not there yet is
  // looked for again every poll interval until it is.
  void Start();
  // The close path; runs once. `finished` follows.
  void Stop();

  // The hand-over (guard/HandOver.h): the answer to a control centre that
  // asks for the unit, having let it go where that is "released"; the setup
  // it hands over, stored and used from then on; the unit taken back.
  QByteArray Release();
  void StoreSetup(const QByteArray& json);
  void TakeBack();
  bool HandedOver() const { return handedOver_; }

  Watch& Watcher() { return *watch_; }
  SettingsStore& Settings() { return *settings_; }
  bool Watching() const { return watching_; }
  // The file that holds the sensor setup the guard uses.
  QString SetupPath() const;

 signals:
  void finished();

 private:
  // The watch's face: nothing to show, the stored choices to give.
  int WarningHandling() const override;
  void AnimateTrayIcon(bool) override {}
  void ShowTrayPicture(int) override {}
  void StopTrayBlink() override {}
  void OpenWindow() override {}
  bool CycleWanted() const override { return true; }
  void ShowStatus(bool) override {}
  void ShowStatusPanel() override {}
  void ShowSensorStates() override {}
  void ShowTemperatures() override {}
  void ShowFans() override {}
  void RefreshSetupRows() override {}
  void ShowOperatingHours() override {}
  void ShowOperatingHoursNow() override {}
  void Polled() override {}
  QString PrimaryText() const override { return primaryText_; }
  void SetPrimaryText(const QString& text) override { primaryText_ = text; }
  QString SecondaryText() const override { return secondaryText_; }
  bool AlternationChosen() const override;
  int DisplayParam(int number) const override;
  SnapshotSettings CurrentSettings() const override;
  void OfferToClearOperationLog(int sizeKb) override;
  void RaisePending(PendingWrite write) override { settings_->Pending.Raise(write); }
  void ResetSettingsToDefaults() override;

  // What the settings store reads: the records and the stored choices.
  bool PollRunning() const override { return watch_->UpdateDataTimer.isActive(); }
  int HigherLowerChoice(int sensor) const override;
  QString SensorNameText(int sensor) const override;
  int WarningLimitValue(int sensor) const override;
  int ShutdownLimitValue(int sensor) const override;
  int BootTempChoice() const override { return bootIndex_; }
  QString BootTempText() const override { return QString::number(-bootIndex_); }
  void ExchangePacket(const packet::Request& request) override { watch_->ExchangePacket(request); }

  void TryOpenUnit();
  void BeginWatching();
  void StopPeriodicTimers();
  void GiveHoursBack();
  void LoadSetup();
  void StartPeriodicTimers();
  void PollTicked();

  Seams seams_;
  Services services_;
  ReportFunction report_;
  std::unique_ptr<IMessageBoxes> boxes_;
  std::unique_ptr<ISound> sound_;
  std::unique_ptr<IPowerOff> powerOff_;
  std::unique_ptr<Watch> watch_;
  std::unique_ptr<SettingsStore> settings_;
  std::unique_ptr<HistoryRecorder> history_;
  std::unique_ptr<MetricsFile> metrics_;
  std::unique_ptr<GuardJournal> journal_;
  QTimer unitWaitTimer_;
  // Alive while a control centre holds the unit and nothing is polled.
  QTimer handedOverTimer_;
  bool handedOver_ = false;
  bool startedOnce_ = false;
  bool waitSaid_ = false;
  bool watching_ = false;
  bool stopped_ = false;

  QString primaryText_;
  QString secondaryText_;
  std::array<int, 3> displayParams_{};
  int displayInterval_ = 0;
  int bootIndex_ = 0;
};
