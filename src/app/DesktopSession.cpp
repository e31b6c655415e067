// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's part in the desktop session: "Start with my desktop
// session" on the Misc. page, and the start into the notification area that
// the session's start asks for.

#include "app/TForm1.h"
#include "desktop/Autostart.h"
#include "widgets/TTrayIcon.h"

#include "ui_TForm1.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QTabWidget>
#include <QWindow>

namespace {

constexpr int kMiscPage = 3;

// A Wayland compositor ignores a minimise asked for before it has mapped the
// window: this asks again at the window's first showing, unless the user has
// had it in hand already.
class MinimizeWhenMapped : public QObject {
 public:
  MinimizeWhenMapped(QWidget& window, QWindow& handle) : QObject(&handle), window_(window) {
    handle.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* handle = static_cast<QWindow*>(watched);
    if (event->type() == QEvent::Expose && handle->isExposed()) {
      // Qt may still hold the state asked for at the start, and would then
      // see nothing to ask.
      QMetaObject::invokeMethod(
          &window_,
          [window = &window_] {
            if (window->isActiveWindow()) return;
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
            window->showMinimized();
          },
          Qt::QueuedConnection);
      deleteLater();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QWidget& window_;
};

}  // namespace

void TForm1::ConnectDesktopSessionHandlers() {
  // The running executable, so that the -sim build starts itself too.
  autostart_ = std::make_unique<Autostart>(Autostart::DefaultPath(), QCoreApplication::applicationFilePath());
  connect(ui_->AutostartCheckBox, &QCheckBox::clicked, this, &TForm1::AutostartCheckBoxClick);
  // The entry may be changed behind the program's back (the desktop's own
  // start-up settings); the page shows it as it is whenever it is opened.
  connect(ui_->PageControl1, &QTabWidget::currentChanged, this, [this](int page) {
    if (page == kMiscPage) ShowAutostartState();
  });
  ShowAutostartState();
}

void TForm1::ShowAutostartState() { ui_->AutostartCheckBox->setChecked(autostart_->Enabled()); }

void TForm1::AutostartCheckBoxClick() {
  const QString failure = autostart_->SetEnabled(ui_->AutostartCheckBox->isChecked());
  // A write that failed leaves the box saying what the file says.
  ShowAutostartState();
  if (!failure.isEmpty()) ReportError(failure);
}

void TForm1::StartMinimized() {
  // The icon takes a window that becomes minimised into the notification
  // area, as when the user minimises it. Without an area the window stays
  // minimised on the task bar: hidden, it could not be brought back.
  showMinimized();
  if (trayIcon1_->WindowInTray()) return;
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && windowHandle())
    new MinimizeWhenMapped(*this, *windowHandle());
  // At log-in the panel often comes up after the programs the session
  // starts; the window moves there once it does, unless the user has
  // taken the window up in the meantime.
  trayWaitTicksLeft_ = kTrayWaitTicks;
  connect(&trayWaitTimer_, &QTimer::timeout, this, &TForm1::TrayWaitTimerTimer, Qt::UniqueConnection);
  trayWaitTimer_.start(1000);
}

void TForm1::TrayWaitTimerTimer() {
  const bool minimized = trayIcon1_->WindowMinimized();
  if (minimized && !trayIcon1_->WindowInTray() && trayIcon1_->Backend().Available()) trayIcon1_->Minimize();
  if (!minimized || trayIcon1_->WindowInTray() || --trayWaitTicksLeft_ <= 0) trayWaitTimer_.stop();
}
