// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TForm1.h"
#include "app/Accessibility.h"
#include "app/ShutdownCountdown.h"
#include "core/Guard.h"

#include "core/ProgramFiles.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "desktop/Autostart.h"
#include "app/WindowTexts.h"
#include "host/TrayHint.h"
#include "device/UnitLink.h"
#include "host/CPUThread.h"
#include "monitor/DeviceData.h"
#include "monitor/UnitStates.h"
#include "widgets/InputLimits.h"
#include "widgets/Palette.h"
#include "widgets/TPerformanceGraph.h"
#include "widgets/TTrayIcon.h"
#include "widgets/TrayIcons.h"

#include "ui_TForm1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QShowEvent>
#include <QStatusBar>

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <vector>

namespace {

// Help contexts by page index; the fifth page's context is 600, not 500.
int HelpContextForPage(int page) {
  switch (page) {
    case 0: return 100;
    case 1: return 200;
    case 2: return 300;
    case 3: return 400;
    case 4: return 600;
    default: return -1;
  }
}

// Where the window was left is the program's own state, kept beside its logs
// and history; the settings file stays as the user's settings alone.
QString WindowStatePath(const QString& stateFolder) { return stateFolder + QStringLiteral("window.ini"); }
const char kPositionKey[] = "position";

// Under Wayland the compositor places windows; a position set or read there
// means nothing.
bool WindowsPlacedByCompositor() { return QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

// A saved place counts while the title bar's middle is on some screen (the
// screens may have changed since); otherwise the primary screen's centre.
QPoint PlaceOnAScreen(const QPoint& saved, const QSize& size) {
  const QPoint grip = saved + QPoint(size.width() / 2, 10);
  for (const QScreen* screen : QGuiApplication::screens())
    if (screen->availableGeometry().contains(grip)) return saved;
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (!primary) return saved;
  return primary->availableGeometry().center() - QPoint(size.width() / 2, size.height() / 2);
}

void RestoreWindowPosition(QWidget* window, const QString& stateFolder) {
  if (WindowsPlacedByCompositor() || stateFolder.isEmpty()) return;
  const QSettings state(WindowStatePath(stateFolder), QSettings::IniFormat);
  const QVariant saved = state.value(QLatin1String(kPositionKey));
  if (saved.canConvert<QPoint>()) window->move(PlaceOnAScreen(saved.toPoint(), window->size()));
}

void SaveWindowPosition(const QWidget* window, const QString& stateFolder) {
  // A window that never came up has no place of its own to keep.
  if (WindowsPlacedByCompositor() || stateFolder.isEmpty() || !window->windowHandle()) return;
  QSettings state(WindowStatePath(stateFolder), QSettings::IniFormat);
  state.setValue(QLatin1String(kPositionKey), window->pos());
}

}  // namespace

TForm1::TForm1(const Services& services, QWidget* parent) : TForm1(services, UnitWait(), parent) {}

TForm1::TForm1(const Services& services, UnitWait unitWait, QWidget* parent)
    : QMainWindow(parent), unitWait_(std::move(unitWait)), ui_(std::make_unique<Ui::TForm1>()), services_(services) {
  InstallAccessibleInterfaces();
  ui_->setupUi(this);
  if (services_.settingsPath.isEmpty()) services_.settingsPath = SettingsKey::DefaultPath();
  report_ = [this](const QString& text) { services_.boxes->ShowReport(this, text); };
  watch_ = std::make_unique<Watch>(services_, static_cast<WatchFace&>(*this), report_);
  connect(watch_.get(), &Watch::linkStateChanged, this, &TForm1::linkStateChanged);
  connect(watch_.get(), &Watch::statusSampled, this, &TForm1::statusSampled);
  settings_ = std::make_unique<SettingsStore>(static_cast<SettingsStoreContext&>(*this), watch_->Panel(),
                                              SettingsStore::Seams{services_.settingsPath, report_});

  statusTimer_.setInterval(1500);
  heatingCountDownTimer_.setInterval(60000);
  connect(&statusTimer_, &QTimer::timeout, this, &TForm1::StatusTimerTimer);
  unitWaitTimer_.setInterval(3000);
  connect(&unitWaitTimer_, &QTimer::timeout, this, &TForm1::UnitWaitTimerTimer);

  CreatePopupMenu();
  CreateTrayIcon();

  programFolder_.clear();
  formReady_ = false;
  try {
    programFolder_ = programfiles::ProgramFolder();
    // The logs must be writable, so they live in the log folder instead; it
    // is created with the first record.
    UseDefaultLogServices();

    std::optional<QString> heldElsewhere = unitWait_ ? unitWait_() : std::nullopt;
    waitingForUnit_ = heldElsewhere.has_value();
    // Without the unit there is nothing to run: the program ends here then.
    if (!waitingForUnit_) StartUsbLink();
    if (Terminating()) return;

    // The CPU clock and load are measured on their own thread from here on.
    StartCpuSampler();

    watch_->CreateQueue();
    ui_->PageControl1->setCurrentIndex(0);
    TrayHintSource = 0;

    ApplyInitialLook();

    FillBootTempComboBox(ui_->BootTempComboBox);
    ApplyWindowTexts(*ui_, this);
    MakeMainWindowAccessible(*this);

    // F1 anywhere in the program opens help for the current page.
    qApp->installEventFilter(this);

    // The front panel shows 16 characters a line.
    for (QComboBox* box : {ui_->PrimaryTextComboBox, ui_->SecondaryTextComboBox}) {
      if (box->lineEdit()) LimitTypedLength(box->lineEdit(), 16);
    }

    // Handlers first: the defaults reach the sensor records through them.
    ConnectSettingHandlers();
    ConnectLogHandlers();
    ConnectHeaterHandlers();
    ConnectWeekdayHandlers();
    ConnectDisplayAndFanHandlers();
    ConnectDesktopSessionHandlers();
    ResetSettingsToDefaults();
    settings_->LoadSensorSettings();
    ShowSensorSettings();
    settings_->LoadDisplaySettings();
    ShowDisplaySettings();
    settings_->LoadUnitSettings();
    ShowUnitSettings();

    if (waitingForUnit_) {
      Queue()->Append(*heldElsewhere);
      statusTimer_.start();
      unitWaitTimer_.start();
    } else {
      BeginWatchingUnit();
    }
  } catch (const std::exception& e) {
    report_(ErrorReportText(e));
    // Whatever step failed, the unit is watched: a window that came up
    // without its poll would show readings that never change and never
    // arm a shutdown. (Before the link and the queue exist there is no
    // watch to run.)
    if (Queue() && !Terminating() && !waitingForUnit_ && !watch_->UpdateDataTimer.isActive())
      StartPeriodicTimers();
  }
  formReady_ = true;
  setFixedSize(sizeHint());
  // The size is fixed: a maximise button would do nothing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  RestoreWindowPosition(this, services_.logFolder);
}

TForm1::~TForm1() {
  if (qApp) qApp->removeEventFilter(this);
  // Also when the close path was cut short: the thread must not outlive the
  // window it reports to.
  watch_->StopCpuSampler();
}

void TForm1::StartUsbLink() {
  Guarded(report_, [&] {
    services_.link->InstallDriverIfMissing();
    if (!services_.link->OpenUnit()) {
      // The box keeps its text; a user whose unit has other ids than the
      // ones looked for learns here how to find and name them.
      if (const auto ids = services_.link->UnitIds())
        services_.boxes->ShowMessageWithDetail(
            kUsbFailedText,
            QStringLiteral("Looked for the USB ids %1.\n\"vornalith-control-centre --find-unit\" "
                           "lists the USB devices that are plugged in; name your unit's ids "
                           "with --unit-id VVVV:PPPP or the \"Unit USB id\" setting.")
                .arg(QString::fromStdString(FormatUnitUsbId(*ids))));
      else
        services_.boxes->ShowMessage(kUsbFailedText);
      // The window never comes up; the close path runs now, as it would for a
      // closed window, and the entry ends the program.
      CloseDown();
    }
    watch_->Exchange().SetStarted(true);
  });
}

void TForm1::BeginWatchingUnit() {
  // One operation-log record per start, of the settings just loaded.
  watch_->StartWatching(*settings_, [this] { StartPeriodicTimers(); });
}

void TForm1::UnitWaitTimerTimer() {
  if (!waitingForUnit_ || Terminating()) return;
  if (const std::optional<QString> text = unitWait_()) {
    if (Queue()) Queue()->Append(*text);
    return;
  }
  unitWaitTimer_.stop();
  waitingForUnit_ = false;
  StartUsbLink();
  // The unit was not found after all: the close path has run, and the
  // window goes as it would have at start.
  if (Terminating()) {
    emit closed();
    return;
  }
  Guarded(report_, [&] { BeginWatchingUnit(); });
}

void TForm1::ApplyInitialLook() {
  SetTextColor(ui_->SetupAlm, StatusOrange);
  SetSliderThumbVisible(ui_->FrontFanManual, false);
  SetSliderThumbVisible(ui_->RearFanManual, false);
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui_->EvaporatorEdit, ui_->Sensor1Edit, ui_->Par3HighLow, ui_->Par4HighLow,
           ui_->Par5HighLow, ui_->Sensor3Alm, ui_->Sensor4Alm, ui_->Sensor5Alm, ui_->Sensor3ShDn,
           ui_->Sensor4ShDn, ui_->Sensor5ShDn}) {
    SetEditColor(w, SystemScrollBarColor());
  }
  FixReadingPanelHeights();
  // "No reply from the unit since ..." comes and goes with the link; its line
  // is kept free so that the fixed-size window need not grow for it.
  QLabel* linkLost = ui_->LinkLostLabel;
  QFont bold = linkLost->font();
  bold.setBold(true);
  linkLost->setFont(bold);
  linkLost->setMinimumHeight(linkLost->fontMetrics().height());
  // The armed shutdown's countdown takes the same line; whole, it sets the
  // window's least width.
  linkLost->setMinimumWidth(linkLost->fontMetrics().horizontalAdvance(ShutdownCountdown::Text(599)));
  QSizePolicy policy = linkLost->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  linkLost->setSizePolicy(policy);
  linkLost->hide();
}

void TForm1::FixReadingPanelHeights() {
  // The reading panels are as wide as their widest text already; with their
  // height fixed too, a new reading no longer asks the layouts above them to
  // run again, which made the tab widget repaint the whole page at every
  // poll instead of just the panels whose text changed.
  std::vector<QLabel*> values{ui_->FanRPM1, ui_->FanRPM2};
  std::vector<QLabel*> states{ui_->Fan1StatusLabel, ui_->Fan2StatusLabel};
  for (int n = 1; n <= 5; ++n) {
    values.push_back(Row(n).value);
    states.push_back(Row(n).state);
  }
  // The layout's widths suit a small font; a larger one or a style with
  // wider frames widens them to the widest text they show.
  const QChar degree(0x00B0);
  const QStringList widestValues{QStringLiteral("8888 RPM"), QStringLiteral("-888") + degree + u'F'};
  const QStringList widestStates{QStringLiteral("Low noise"), QStringLiteral("Warning"), QStringLiteral("ALARM"),
                                 QStringLiteral("Stopped")};
  for (const auto& [panels, widest] : {std::pair{&values, &widestValues}, {&states, &widestStates}}) {
    for (QLabel* panel : *panels) {
      const QString shown = panel->text();
      int width = panel->minimumWidth();
      for (const QString& text : *widest) {
        panel->setText(text);
        width = std::max(width, panel->minimumSizeHint().width());
      }
      panel->setText(shown);
      panel->setMinimumWidth(width);
      panel->setMaximumWidth(std::max(panel->maximumWidth(), width));
    }
  }
  std::vector<QLabel*> panels = values;
  panels.insert(panels.end(), states.begin(), states.end());
  for (QLabel* panel : panels) {
    panel->setFixedHeight(std::max(panel->minimumHeight(), panel->sizeHint().height()));
  }
}

void TForm1::StartPeriodicTimers() {
  settings_->WriteChangesTimer.start();
  watch_->Panel().DisplayIntervalTimer.start();
  watch_->Log().MaintainTimer.start();
  watch_->Log().HoursRunTimer.start();
  watch_->UpdateDataTimer.start();
  statusTimer_.start();
}

void TForm1::CreatePopupMenu() {
  popupMenu1_ = new QMenu(this);
  popupMenu1_->setObjectName(QStringLiteral("PopupMenu1"));
  QAction* open = popupMenu1_->addAction(QStringLiteral("Open"));
  open->setObjectName(QStringLiteral("Open1"));
  QAction* history = popupMenu1_->addAction(QStringLiteral("History"));
  history->setObjectName(QStringLiteral("History1"));
  popupMenu1_->addSeparator();
  QAction* about = popupMenu1_->addAction(QStringLiteral("About"));
  about->setObjectName(QStringLiteral("About1"));
  popupMenu1_->addSeparator();
  QAction* exit = popupMenu1_->addAction(QStringLiteral("Exit"));
  exit->setObjectName(QStringLiteral("Exit1"));
  connect(open, &QAction::triggered, this, &TForm1::Open1Click);
  connect(history, &QAction::triggered, this, &TForm1::historyRequested);
  connect(about, &QAction::triggered, this, &TForm1::About1Click);
  connect(exit, &QAction::triggered, this, &TForm1::Exit1Click);
}

// ---------------------------------------------------------------------------
// Timers

void TForm1::StatusTimerTimer() {
  if (Terminating() || !Queue()) return;
  QStatusBar* bar = ui_->MainStatusBar;
  const QString before = bar->currentMessage();
  Guarded(report_, [&] {
    if (!Queue()->IsEmpty()) {
      ShowStatusText(Queue()->TakeFirst());
    } else if (watch_->Model().status.colour == PanelColour::Green && !IsFaultCode(UnitStateNow())) {
      ShowStatusText(kStatusOkText);
    }
  });
  // A new text shows at once; the same text again would only cost a redraw
  // every 1.5 s that changes nothing on screen.
  if (bar->currentMessage() != before) bar->repaint();
}

void TForm1::ShowStatusText(const QString& text) {
  QStatusBar* bar = ui_->MainStatusBar;
  // The window is narrow and a notice's reason is at its end ("History is
  // not being saved: <path>: disk full"): a text too long for the bar loses
  // its middle rather than its end, and the bar's tooltip holds it whole.
  // (The bar draws its message a few pixels in, with its size grip beside.)
  const int room = bar->contentsRect().width() - 24;
  const QString shown =
      bar->isVisible() ? bar->fontMetrics().elidedText(text, Qt::ElideMiddle, std::max(room, 1)) : text;
  bar->showMessage(shown);
  bar->setToolTip(shown == text ? QString() : text);
}

std::uint8_t TForm1::UnitStateNow() const { return Device.Status.UnitState; }

// ---------------------------------------------------------------------------
// Notification-area menu, help, restore

void TForm1::TrayIcon1MouseDown(Qt::MouseButton button, int x, int y) {
  if (button != Qt::RightButton) return;
  raise();
  activateWindow();
  popupMenu1_->popup(QPoint(x, y));
}

void TForm1::Open1Click() {
  // The icon follows the window out of the notification area.
  trayIcon1_->Restore();
}

void TForm1::About1Click() { services_.boxes->ShowMessage(kAboutText); }

void TForm1::Exit1Click() { close(); }

void TForm1::RestoreFromSecondStart() { Open1Click(); }

void TForm1::ShowHelpForCurrentPage() {
  const int context = HelpContextForPage(ui_->PageControl1->currentIndex());
  if (context < 0) {
    services_.help->ShowContents();
  } else {
    services_.help->ShowContext(context);
  }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_F1 && !key->isAutoRepeat()) {
      ShowHelpForCurrentPage();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// What the watch shows in the window and reads from its controls

void TForm1::Polled() { ui_->CPULoadGraph->setVisible(true); }

int TForm1::WarningHandling() const { return ui_->WarningHandlingComboBox->currentIndex(); }

void TForm1::AnimateTrayIcon(bool on) { trayIcon1_->SetAnimate(on); }

void TForm1::ShowTrayPicture(int index) { trayIcon1_->SetIconIndex(index); }

void TForm1::ShowStatus(bool now) {
  ShowStatusPanel();
  if (now) ui_->SystemStatPanel->repaint();
}

QString TForm1::PrimaryText() const { return ui_->PrimaryTextComboBox->currentText(); }

void TForm1::SetPrimaryText(const QString& text) { ui_->PrimaryTextComboBox->setEditText(text); }

bool TForm1::AlternationChosen() const {
  return settings::HasDisplayInterval(ui_->DispLine1Int->currentIndex());
}

// ---------------------------------------------------------------------------
// What the front panel reaches in the window

QString TForm1::SecondaryText() const { return ui_->SecondaryTextComboBox->currentText(); }

int TForm1::DisplayParam(int number) const {
  const QComboBox* params[] = {ui_->DispParam1, ui_->DispParam2, ui_->DispParam3};
  return params[number - 1]->currentIndex();
}

// ---------------------------------------------------------------------------
// Errors

void TForm1::ReportError(const QString& message) { report_(QStringLiteral("Error: ") + message); }

// ---------------------------------------------------------------------------
// Close path

void TForm1::closeEvent(QCloseEvent* event) {
  CloseDown();
  event->accept();
  emit closed();
}

void TForm1::CloseDown() {
  if (closedDown_) return;
  closedDown_ = true;
  SaveWindowPosition(this, services_.logFolder);

  // The periodic work ends first.
  for (QTimer* t : {&heatingCountDownTimer_, &watch_->Log().MaintainTimer, &watch_->UpdateDataTimer,
                    &statusTimer_, &trayWaitTimer_, &unitWaitTimer_,
                    &watch_->Panel().DisplayIntervalTimer, &settings_->WriteChangesTimer}) {
    t->stop();
  }
  // The running hours go back to the unit, which keeps the counter. Before
  // the unit has reported them they are -1: nothing is written back then
  // (the block would otherwise carry 65535).
  if (MainWindowCountsAsVisible() && !ui_->OperHours->isHidden() && watch_->Model().operatingHours > 0) {
    Device.Settings.SetOperatingHours(watch_->Model().operatingHours);
    settings_->SendUnitSettings();  // a failure is reported and the close goes on
  }
  // A unit the window never had is another program's to blank.
  if (!waitingForUnit_) watch_->SendBlankDisplayLines();
  watch_->SetTerminating();
  Guarded(report_, [&] { watch_->Close(); });
}
