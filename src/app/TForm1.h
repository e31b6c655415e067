// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window: a face of the watch (src/watch). It builds the watch and
// the settings store, shows what they decide, gives them the choices its
// controls hold, and carries the handlers its controls drive; it owns the
// dialogs, the notification-area icon and the close path.

#include "core/ProgramName.h"
#include "core/Services.h"
#include "core/StatusMessageQueue.h"
#include "core/Guard.h"
#include "app/Heater.h"
#include "config/FrontPanel.h"
#include "config/PendingWrites.h"
#include "config/SettingsKey.h"
#include "config/SettingsStore.h"
#include "logs/LogFile.h"
#include "logs/Logs.h"
#include "logs/MailSender.h"
#include "logs/ProcessLauncher.h"
#include "device/Packet.h"
#include "device/UnitExchange.h"
#include "monitor/Alarms.h"
#include "monitor/RelaxedAtomic.h"
#include "monitor/StatusCycle.h"
#include "monitor/StatusSample.h"
#include "monitor/UnitModel.h"
#include "watch/Watch.h"

#include <QMainWindow>
#include <QSet>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class TForm1;
}
class QMenu;
class QAction;
class QSpinBox;
class QComboBox;
class QLabel;
class TTrayIcon;
class Autostart;
class CPUThread;
class ICpuSources;

inline const QString kAboutText = QStringLiteral("Vornalith Control Centre 1.21");
inline const QString kUsbFailedText =
    QStringLiteral("USB connection failed - unable to run program");
inline const QString kStatusOkText = QStringLiteral("Status: ok");

class TForm1 : public QMainWindow, private WatchFace, private SettingsStoreContext {
  Q_OBJECT
 public:
  explicit TForm1(const Services& services, QWidget* parent = nullptr);
  // Another program holds the unit and will not let it go yet (the guard
  // service with an emergency shutdown armed): asked at start and then at
  // every poll interval, it gives the text the status bar shows meanwhile,
  // or nothing once the unit is free. Until then the window is up without
  // the unit: nothing is sent to it, and the close path leaves it alone.
  using UnitWait = std::function<std::optional<QString>()>;
  TForm1(const Services& services, UnitWait unitWait, QWidget* parent = nullptr);
  ~TForm1() override;
  bool WaitingForUnit() const { return waitingForUnit_; }
  // The poll interval's question while waiting; once the unit is free, the
  // start goes on where it stopped.
  void UnitWaitTimerTimer();

  Ui::TForm1& ui() { return *ui_; }

  // --- state the rest of the program reads ---
  // The watch of the unit the window shows.
  Watch& Watcher() { return *watch_; }
  bool LinkStarted() const { return watch_->Exchange().Started(); }
  bool FormReady() const { return formReady_; }
  // True once the program has decided to end (no unit at start, or closing).
  bool Terminating() const { return watch_->Terminating(); }
  // True from the power-off request of the shutdown sequence until its last
  // notice has gone to the unit; the window must not close in between.
  bool ShutdownSequenceRunning() const { return watch_->Alarm().ShutdownSequenceRunning(); }
  StatusMessageQueue* Queue() const { return watch_->Queue(); }
  const QString& ProgramFolder() const { return programFolder_; }

  // CPU clock rate (MHz) and load (%) as the sampler last measured them; null
  // before start-up and after the close path.
  RelaxedAtomic<int>* CpuSpeedMHz() const { return watch_->CpuSpeedMHz(); }
  RelaxedAtomic<int>* CpuLoadPercent() const { return watch_->CpuLoadPercent(); }

  // --- packet transaction ---
  void ExchangePacket(const std::uint8_t* request) { watch_->ExchangePacket(request); }
  void ExchangePacket(const packet::Request& request) override { watch_->ExchangePacket(request); }

  // --- the unit's condition: decided on in the model, shown in the panels ---
  UnitModel& Model() { return watch_->Model(); }
  void ShowStatusPanel() override;
  void ShowSensorStates() override;
  void ShowOperatingHours() override;

  // --- status cycle, after every reply 01: decided there, shown here ---
  StatusCycle& Cycle() { return watch_->Cycle(); }
  void RefreshSetupRows() override;
  void ShowTemperatures() override;
  void ShowFans() override;

  // --- warnings, alarms and emergency shutdown ---
  Alarms& Alarm() { return watch_->Alarm(); }
  void WarningHandlingComboBoxChange();
  // "Desktop notifications": saved at once, like the warning choice.
  void NotificationsCheckBoxClick();

  // --- temperature unit and tray hint choice ---
  void CelsiusRadioButtonClick();
  void FahrenheitRadioButtonClick();
  void ApplyTemperatureUnit();
  void ConvertLimitUnit(QSpinBox* spinEdit);
  void IconShowComboBoxChange();

  // --- sensor setup ---
  void SetupSensorComboBox2Change() { SetupSensorComboBoxChange(2); }
  void SetupSensorComboBox3Change() { SetupSensorComboBoxChange(3); }
  void SetupSensorComboBox4Change() { SetupSensorComboBoxChange(4); }
  void SetupSensorComboBox5Change() { SetupSensorComboBoxChange(5); }
  void Par2HighLowChange() { settings_->Pending.Raise(PendingHigherLower); }
  void Par3HighLowChange() { settings_->Pending.Raise(PendingHigherLower); }
  void Par4HighLowChange() { settings_->Pending.Raise(PendingHigherLower); }
  void Par5HighLowChange() { settings_->Pending.Raise(PendingHigherLower); }
  void SensorAlmChange(int sensor);   // Sensor1AlmChange .. Sensor5AlmChange
  void SensorShDnChange(int sensor);  // Sensor1ShDnChange .. Sensor5ShDnChange
  void BootTempComboBoxChange() { settings_->Pending.Raise(PendingBootTemperature); }

  // --- front panel: line 1's alternation and line 2 there, the texts here ---
  FrontPanel& Panel() { return watch_->Panel(); }
  void PrimaryTextComboBoxChange() { settings_->Pending.Raise(PendingLine1Text); }
  void SecondaryTextComboBoxChange() {}
  void DispParamChange();  // DispParam1Change .. DispParam3Change

  // --- fans ---
  void FrontFanModeComboBoxChange() { FanModeChange(0); }
  void RearFanModeComboBoxChange() { FanModeChange(1); }
  void FrontFanManualChange() { FanManualChange(0); }
  void RearFanManualChange() { FanManualChange(1); }

  // --- settings: loaded, saved and sent there, shown here ---
  SettingsStore& Settings() { return *settings_; }
  void ResetSettingsToDefaults() override;
  // What the store's three start-up loads found, into the controls.
  void ShowSensorSettings();
  void ShowDisplaySettings();
  void ShowUnitSettings();

  // The Setup-tab row and System-tab panels of sensor 1..5.
  struct SensorControls {
    QComboBox* name = nullptr;  // sensors 2..5
    QComboBox* higherLower = nullptr;
    QSpinBox* warning = nullptr;
    QSpinBox* shutdown = nullptr;
    QLabel* showName = nullptr;
    QLabel* value = nullptr;
    QLabel* state = nullptr;
  };
  SensorControls Row(int sensor) const;

  // --- logs, log maintenance, error report, heater, weekday tab ---
  // The logs, their snapshots, the running hours and the size check.
  Logs& Log() { return watch_->Log(); }
  void ViewLogButtonClick();
  void ClearLogButtonClick();
  void ErrorViewButtonClick();
  void SendButtonClick();
  // True while the clear-log question or the heating dialog is open.
  bool ModalDialogOpen() const { return modalDialogOpen_; }
  void HeatingSliderChange();
  void HeatingCountDownTimerTimer();
  // kReductionBase + m/1440: m minutes of reduced heating are left.
  double ReductionEnd() const { return reductionEnd_; }
  void WeekdayCheckBoxClick(int day);  // 1 Monday .. 5 Friday
  void MondayCheckBoxClick() { WeekdayCheckBoxClick(1); }
  void TuesdayCheckBoxClick() { WeekdayCheckBoxClick(2); }
  void WednesdayCheckBoxClick() { WeekdayCheckBoxClick(3); }
  void ThursdayCheckBoxClick() { WeekdayCheckBoxClick(4); }
  void FridayCheckBoxClick() { WeekdayCheckBoxClick(5); }

  // --- timers and their handlers ---
  QTimer& StatusTimer() { return statusTimer_; }
  QTimer& HeatingCountDownTimer() { return heatingCountDownTimer_; }

  void StatusTimerTimer();
  // Shows one text in the status bar, whole or, where it is too long, with
  // its middle left out and the whole text in the bar's tooltip.
  void ShowStatusText(const QString& text);

  // --- notification-area menu ---
  QMenu* PopupMenu1() const { return popupMenu1_; }
  void TrayIcon1MouseDown(Qt::MouseButton button, int x, int y);
  void Open1Click();
  void About1Click();
  void Exit1Click();

  // F1: help at the context of the current page.
  void ShowHelpForCurrentPage();

  // The close path; runs once, from the window's close event (which a
  // signal and the session's end also bring about) or from a start-up that
  // found no unit.
  void CloseDown();

  // Reports "Error: " + message in a box that does not hold up the caller
  // (see IMessageBoxes::ShowReport); a fault that repeats at every tick adds
  // no second box while the first stands.
  void ReportError(const QString& message);

  // A second start asked for the window.
  void RestoreFromSecondStart();

  // --- the desktop session ---
  // "Start with my desktop session": writes or removes the autostart entry.
  void AutostartCheckBoxClick();
  // Shows the window as a start with --minimized wants it: in the
  // notification area where there is one, minimised on the task bar elsewhere.
  void StartMinimized();
  // After such a start without a notification area: one look, every second
  // for half a minute, whether an area has come up to take the window.
  static constexpr int kTrayWaitTicks = 30;
  QTimer& TrayWaitTimer() { return trayWaitTimer_; }
  void TrayWaitTimerTimer();

  // --- what the features outside the window watch ---
  // False from the first failed exchange until the next accepted reply.
  bool LinkUp() const { return watch_->Exchange().LinkUp(); }
  // When the last status reply was decoded; invalid before the first.
  const QDateTime& LastReplyTime() const { return watch_->Cycle().LastSample().time; }
  // The sample of the last decoded status reply (default until the first).
  const StatusSample& LastSample() const { return watch_->Cycle().LastSample(); }
  IClock& Clock() const { return *services_.clock; }

  // --- notification-area icon and CPU sampler ---
  TTrayIcon* TrayIcon1() const { return trayIcon1_; }
  // Null until the sampler has started, and again after the close path.
  CPUThread* CpuSampler() const { return watch_->CpuSampler(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void CreateTrayIcon();
  void StartCpuSampler();
  // Tells the sampler whether the window counts as visible.
  void NoteMainWindowVisibility();
  TTrayIcon* trayIcon1_ = nullptr;

 public:
 signals:
  // Emitted at the end of the close path; the application ends on it.
  void closed();
  // After every decoded status reply, once the status cycle has run on it.
  void statusSampled(const StatusSample& sample);
  // The link went down (an exchange failed) or came back (a reply arrived);
  // emitted on the change only.
  void linkStateChanged(bool up);
  // The menu's "History" was chosen.
  void historyRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void StartUsbLink();
  void StartPeriodicTimers();
  void ApplyInitialLook();
  void FixReadingPanelHeights();
  void CreatePopupMenu();
  std::uint8_t UnitStateNow() const;
  void ConnectSettingHandlers();
  void ConnectDisplayAndFanHandlers();
  void ConnectDesktopSessionHandlers();
  void ShowAutostartState();
  std::unique_ptr<Autostart> autostart_;
  QTimer trayWaitTimer_;
  UnitWait unitWait_;
  bool waitingForUnit_ = false;
  QTimer unitWaitTimer_;
  void BeginWatchingUnit();
  int trayWaitTicksLeft_ = 0;
  void FanModeChange(int fan);    // 0 front, 1 rear
  void FanManualChange(int fan);
  void SetupSensorComboBoxChange(int sensor);
  void SetRowUsable(int sensor, bool usable);
  // The main window counts as visible for the status cycle while it is shown
  // or sits minimised in the notification area.
  bool MainWindowCountsAsVisible() const;

  std::unique_ptr<Ui::TForm1> ui_;
  Services services_;

  QString programFolder_;
  bool formReady_ = false;
  bool closedDown_ = false;
  QTimer statusTimer_, heatingCountDownTimer_;
  bool modalDialogOpen_ = false;
  // The clear-log dialog's answer; false: delete the operation log.
  bool logClearCanceled_ = true;
  double reductionEnd_ = kReductionBase;

  // A report box over the window that no handler waits for.
  ReportFunction report_;
  std::unique_ptr<Watch> watch_;
  // Sends through the watch's front panel, so it ends before the watch.
  std::unique_ptr<SettingsStore> settings_;

  // What the watch shows in the window and reads from its controls.
  bool CycleWanted() const override;
  void StopTrayBlink() override;
  void Polled() override;
  QString SecondaryText() const override;
  int DisplayParam(int number) const override;
  int WarningHandling() const override;
  void AnimateTrayIcon(bool on) override;
  void ShowTrayPicture(int index) override;
  void OpenWindow() override { Open1Click(); }
  void ShowStatus(bool now) override;
  QString PrimaryText() const override;
  void SetPrimaryText(const QString& text) override;
  bool AlternationChosen() const override;
  void RaisePending(PendingWrite write) override { settings_->Pending.Raise(write); }

  // What the settings store reaches in the window (besides the primary text,
  // the display items and the exchange it shares with the watch's face).
  bool PollRunning() const override;
  int HigherLowerChoice(int sensor) const override;
  QString SensorNameText(int sensor) const override;
  int WarningLimitValue(int sensor) const override;
  int ShutdownLimitValue(int sensor) const override;
  int BootTempChoice() const override;
  QString BootTempText() const override;

  QMenu* popupMenu1_ = nullptr;

  // Logs, log maintenance, heater, weekday tab.
  void UseDefaultLogServices();
  void ConnectLogHandlers();
  void ConnectHeaterHandlers();
  void ConnectWeekdayHandlers();
  void ShowReminder(QWidget* owner);
  SnapshotSettings CurrentSettings() const override;
  void ShowOperatingHoursNow() override;
  void OfferToClearOperationLog(int sizeKb) override;
  std::unique_ptr<IProcessLauncher> ownLauncher_;
  std::unique_ptr<IMailTransport> ownMail_;
};
