// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/TTrayIcon.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QCursor>
#include <QDateTime>
#include <QEvent>
#include <QMenu>
#include <QPixmap>
#include <QStyleHints>
#include <QWidget>

#include <stdexcept>

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

bool OnX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

bool WatcherRegistered() {
  QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
  return bus && bus->isServiceRegistered(kWatcherService).value();
}

// Whether Qt shows the icon as a D-Bus StatusNotifierItem. Qt decides once for
// the whole run, the first time an icon is made or the tray is asked about:
// a D-Bus item when a StatusNotifierWatcher (with its host) is on the session
// bus then, otherwise an XEmbed icon, which exists on X11 only. So away from
// X11 nothing of Qt's tray is touched until a watcher is there.
bool UsesStatusNotifierItem() {
  static const bool dbus = !OnX11() || WatcherRegistered();
  return dbus;
}

class SystemTrayBackend : public ITrayBackend {
 public:
  SystemTrayBackend() {
    if (OnX11()) return;
    // The panel (and with it the watcher) may start after the program, or
    // restart: the icon is made as soon as a watcher is there.
    watcher_ = std::make_unique<QDBusServiceWatcher>(
        kWatcherService, QDBusConnection::sessionBus(),
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(watcher_.get(), &QDBusServiceWatcher::serviceRegistered, watcher_.get(), [this] {
      watcherPresent_ = true;
      if (wanted_) Show();
    });
    QObject::connect(watcher_.get(), &QDBusServiceWatcher::serviceUnregistered, watcher_.get(),
                     [this] { watcherPresent_ = false; });
    watcherPresent_ = WatcherRegistered();
  }

  bool Available() const override {
    if (!OnX11() && !watcherPresent_) return false;
    UsesStatusNotifierItem();
    return QSystemTrayIcon::isSystemTrayAvailable();
  }

  bool Add(const QIcon& icon, const QString& tip) override {
    wanted_ = true;
    icon_ = icon;
    tip_ = tip;
    // On X11 the icon is shown even while the desktop has no notification
    // area yet: Qt puts it there when one appears.
    if (OnX11() || watcherPresent_) Show();
    return true;
  }

  bool Modify(const QIcon& icon, const QString& tip) override {
    icon_ = icon;
    tip_ = tip;
    if (tray_) Apply();
    return true;
  }

  bool Remove() override {
    wanted_ = false;
    if (tray_) tray_->hide();
    return true;
  }

  void SetMenu(QMenu* menu) override {
    menu_ = menu;
    if (tray_ && UsesStatusNotifierItem()) tray_->setContextMenu(menu);
  }

 private:
  void Show() {
    if (!tray_) {
      const bool dbus = UsesStatusNotifierItem();
      tray_ = std::make_unique<QSystemTrayIcon>();
      // A StatusNotifierItem host draws the menu itself from what the item
      // exports, and its "activate" (a click, or a double-click, as the host
      // sees fit) is the item's main action: the same as a double-click on
      // a classic tray icon, which brings the window back.
      if (dbus && menu_) tray_->setContextMenu(menu_);
      QObject::connect(tray_.get(), &QSystemTrayIcon::activated,
                       [this, dbus](QSystemTrayIcon::ActivationReason reason) {
                         if (dbus && reason == QSystemTrayIcon::Trigger)
                           reason = QSystemTrayIcon::DoubleClick;
                         if (onActivated) onActivated(reason);
                       });
    }
    Apply();
    tray_->show();
  }

  void Apply() {
    // Re-sending an unchanged picture makes some notification areas redraw
    // (and flicker) at every hint change.
    if (icon_.cacheKey() != tray_->icon().cacheKey()) tray_->setIcon(icon_);
    if (tip_ != tray_->toolTip()) tray_->setToolTip(tip_);
  }

  std::unique_ptr<QDBusServiceWatcher> watcher_;
  bool watcherPresent_ = false;
  bool wanted_ = false;
  QIcon icon_;
  QString tip_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  QPointer<QMenu> menu_;
};

QIcon ApplicationIcon() { return QApplication::windowIcon(); }

}  // namespace

std::unique_ptr<ITrayBackend> MakeSystemTrayBackend() {
  return std::make_unique<SystemTrayBackend>();
}

TTrayIcon::TTrayIcon(QObject* parent, std::unique_ptr<ITrayBackend> backend) : QObject(parent) {
  SetBackend(backend ? std::move(backend) : MakeSystemTrayBackend());
  picture_ = ApplicationIcon();
  animateTimer_.setInterval(1000);
  connect(&animateTimer_, &QTimer::timeout, this, &TTrayIcon::DoOnAnimate);
}

TTrayIcon::~TTrayIcon() {
  if (window_) window_->removeEventFilter(this);
  if (visible_) backend_->Remove();
}

void TTrayIcon::SetBackend(std::unique_ptr<ITrayBackend> backend) {
  if (backend_ && visible_) backend_->Remove();
  backend_ = std::move(backend);
  backend_->SetMenu(popupMenu_);
  backend_->onActivated = [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); };
  if (visible_) backend_->Add(picture_, hint_);
}

// ---------------------------------------------------------------------------
// Properties

void TTrayIcon::SetVisible(bool visible) {
  if (visible == visible_) return;
  if (visible) {
    if (!backend_->Add(picture_, hint_)) throw std::runtime_error(kCannotCreateIconText.toStdString());
    visible_ = true;
    hide_ = true;
  } else {
    visible_ = false;
    hide_ = false;
    if (windowInTray_) Restore();  // never leave the window hidden with no way back
    if (!backend_->Remove()) throw std::runtime_error(kCannotRemoveIconText.toStdString());
  }
}

void TTrayIcon::SetPopupMenu(QMenu* menu) {
  popupMenu_ = menu;
  backend_->SetMenu(menu);
}

void TTrayIcon::SetHint(const QString& text) {
  if (text == hint_ || text.size() >= kHintLimit) return;
  hint_ = text;
  Update();
}

void TTrayIcon::SetIcons(std::vector<QImage> icons) {
  icons_ = std::move(icons);
  iconPictures_.clear();
  for (const QImage& image : icons_) iconPictures_.emplace_back(QPixmap::fromImage(image));
}

void TTrayIcon::SetIconIndex(int index) {
  iconIndex_ = index;
  if (index >= 0 && index < static_cast<int>(iconPictures_.size()))
    picture_ = iconPictures_[static_cast<std::size_t>(index)];
  Update();
}

void TTrayIcon::SetAnimate(bool on) {
  if (icons_.empty()) return;
  animate_ = on;
  if (on) {
    if (!animateTimer_.isActive()) animateTimer_.start();
  } else {
    animateTimer_.stop();
    if (iconIndex_ != 0) SetIconIndex(0);
  }
}

void TTrayIcon::Loaded() {
  if (!icons_.empty()) {
    SetAnimate(animate_);
    SetIconIndex(iconIndex_);
    return;
  }
  animate_ = false;
  picture_ = ApplicationIcon();
  Update();
}

void TTrayIcon::SetDefaultIcon() {
  picture_ = ApplicationIcon();
  Update();
}

void TTrayIcon::Update() {
  if (visible_) backend_->Modify(picture_, hint_);
}

void TTrayIcon::DoOnAnimate() {
  const int last = static_cast<int>(icons_.size()) - 1;
  SetIconIndex(iconIndex_ >= last ? 0 : iconIndex_ + 1);
}

// ---------------------------------------------------------------------------
// The main window

void TTrayIcon::SetMainWindow(QWidget* window) {
  if (window_) window_->removeEventFilter(this);
  window_ = window;
  if (window_) window_->installEventFilter(this);
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && event->type() == QEvent::WindowStateChange) {
    // Under Wayland the state goes back to normal at once, while the
    // compositor keeps the window minimised: only the window's activation
    // says that the user has brought it back.
    if (window_->isMinimized())
      minimizedAway_ = true;
    else if (OnX11())
      minimizedAway_ = false;
    if (visible_ && window_->isMinimized() && !windowInTray_ && backend_->Available()) Minimize();
  } else if (watched == window_ && event->type() == QEvent::WindowActivate) {
    minimizedAway_ = false;
  }
  return QObject::eventFilter(watched, event);
}

bool TTrayIcon::WindowMinimized() const { return window_ && (window_->isMinimized() || minimizedAway_); }

void TTrayIcon::Minimize() {
  if (window_) {
    if (!window_->isMinimized()) window_->setWindowState(window_->windowState() | Qt::WindowMinimized);
    // Without a notification area a hidden window could not be brought back:
    // it then stays minimised in the task bar.
    if (visible_ && backend_->Available()) {
      windowInTray_ = true;
      // Not from inside the window's own state change.
      QMetaObject::invokeMethod(
          window_, [this] {
            if (windowInTray_ && window_) window_->hide();
          },
          Qt::QueuedConnection);
    }
  }
  if (OnMinimize) OnMinimize();
}

void TTrayIcon::Restore() {
  windowInTray_ = false;
  if (window_) {
    // A Wayland client cannot take its window out of the minimised state;
    // shown anew, the window is a new one to the compositor and is mapped.
    if (minimizedAway_ && !OnX11() && window_->isVisible()) window_->hide();
    minimizedAway_ = false;
    window_->showNormal();
    window_->raise();
    window_->activateWindow();
  }
  if (OnRestore) OnRestore();
}

void TTrayIcon::ShowMenu() {
  if (!popupMenu_) return;
  if (QWidget* active = QApplication::activeWindow()) {
    active->raise();
    active->activateWindow();
  }
  popupMenu_->popup(QCursor::pos());
}

// ---------------------------------------------------------------------------
// Mouse

bool TTrayIcon::IsSecondPress(QSystemTrayIcon::ActivationReason reason) {
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  const bool second = reason == lastPress_ &&
                      now - lastPressAt_ <= QGuiApplication::styleHints()->mouseDoubleClickInterval();
  // A third press starts a new pair, as with any double-click.
  lastPress_ = second ? QSystemTrayIcon::Unknown : reason;
  lastPressAt_ = now;
  return second;
}

void TTrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      lastPress_ = reason;
      lastPressAt_ = QDateTime::currentMSecsSinceEpoch();
      MouseMessage(TrayMouseMessage::LeftDown);
      MouseMessage(TrayMouseMessage::LeftUp);
      break;
    case QSystemTrayIcon::DoubleClick:
      lastPress_ = QSystemTrayIcon::Unknown;
      MouseMessage(TrayMouseMessage::LeftDoubleClick);
      MouseMessage(TrayMouseMessage::LeftUp);
      break;
    case QSystemTrayIcon::Context:
      MouseMessage(IsSecondPress(reason) ? TrayMouseMessage::RightDoubleClick
                                         : TrayMouseMessage::RightDown);
      MouseMessage(TrayMouseMessage::RightUp);
      break;
    case QSystemTrayIcon::MiddleClick:
      MouseMessage(IsSecondPress(reason) ? TrayMouseMessage::MiddleDoubleClick
                                         : TrayMouseMessage::MiddleDown);
      MouseMessage(TrayMouseMessage::MiddleUp);
      break;
    default:
      break;
  }
}

void TTrayIcon::MouseMessage(TrayMouseMessage message) {
  switch (message) {
    case TrayMouseMessage::Move:
      if (OnClick) DoMouseMove();
      break;
    case TrayMouseMessage::LeftDown: DoMouseDown(Qt::LeftButton); break;
    case TrayMouseMessage::LeftUp:
      if (OnClick) DoClick();
      DoMouseUp(Qt::LeftButton);
      Act(imLeftClickUp);
      break;
    case TrayMouseMessage::LeftDoubleClick:
      DoDblClick();
      Act(imLeftDoubleClick);
      break;
    case TrayMouseMessage::RightDown: DoMouseDown(Qt::RightButton); break;
    case TrayMouseMessage::RightUp:
      DoMouseUp(Qt::RightButton);
      Act(imRightClickUp);
      break;
    case TrayMouseMessage::RightDoubleClick:
      DoDblClick();
      Act(imRightDoubleClick);
      break;
    case TrayMouseMessage::MiddleDown: DoMouseDown(Qt::MiddleButton); break;
    case TrayMouseMessage::MiddleUp: DoMouseUp(Qt::MiddleButton); break;
    case TrayMouseMessage::MiddleDoubleClick: DoDblClick(); break;
  }
}

void TTrayIcon::Act(TTrayIconMessage happened) {
  if (RestoreOn == happened) Restore();
  if (PopupMenuOn == happened) ShowMenu();
}

void TTrayIcon::DoClick() {
  Act(imClick);
  if (OnClick) OnClick();
}

void TTrayIcon::DoDblClick() {
  Act(imDoubleClick);
  if (OnDblClick) OnDblClick();
}

void TTrayIcon::DoMouseMove() {
  const QPoint at = QCursor::pos();
  if (OnMouseMove) OnMouseMove(QGuiApplication::queryKeyboardModifiers(), at.x(), at.y());
}

void TTrayIcon::DoMouseDown(Qt::MouseButton button) {
  Act(imMouseDown);
  const QPoint at = QCursor::pos();
  if (OnMouseDown) OnMouseDown(button, QGuiApplication::queryKeyboardModifiers(), at.x(), at.y());
}

void TTrayIcon::DoMouseUp(Qt::MouseButton button) {
  Act(imMouseUp);
  const QPoint at = QCursor::pos();
  if (OnMouseUp) OnMouseUp(button, QGuiApplication::queryKeyboardModifiers(), at.x(), at.y());
}
