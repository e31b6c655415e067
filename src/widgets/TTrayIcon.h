// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's icon in the desktop's notification area: its picture and hint,
// blinking through a list of pictures, mouse actions turned into events, and
// the main window taken out of the task bar while it is minimised.
//
// The desktop is reached through ITrayBackend, so everything here works (and
// is tested) without a notification area; on a desktop without one the icon
// simply is not there and nothing complains.

#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

// The mouse action that restores the window or shows the menu.
enum TTrayIconMessage {
  imClick,
  imDoubleClick,
  imMouseDown,
  imMouseUp,
  imLeftClickUp,
  imLeftDoubleClick,
  imRightClickUp,
  imRightDoubleClick,
  imNone
};

// Mouse messages on the icon, finer than what the desktop reports (see
// TTrayIcon::Activated for how they are derived).
enum class TrayMouseMessage {
  Move,
  LeftDown,
  LeftUp,
  LeftDoubleClick,
  RightDown,
  RightUp,
  RightDoubleClick,
  MiddleDown,
  MiddleUp,
  MiddleDoubleClick
};

class ITrayBackend {
 public:
  virtual ~ITrayBackend() = default;
  // Whether the desktop has a notification area at this moment.
  virtual bool Available() const = 0;
  // Put the icon into the area (now, or as soon as an area appears), change
  // its picture and tooltip, take it out. False when the desktop refuses.
  virtual bool Add(const QIcon& icon, const QString& tip) = 0;
  virtual bool Modify(const QIcon& icon, const QString& tip) = 0;
  virtual bool Remove() = 0;
  // The menu a desktop that draws the icon's menu itself (a D-Bus notification
  // area) offers; elsewhere the program pops its menu up on its own.
  virtual void SetMenu(QMenu* menu) { Q_UNUSED(menu); }
  // Set by the component: where the desktop's reports of clicks go.
  std::function<void(QSystemTrayIcon::ActivationReason)> onActivated;
};

// The desktop's own notification area, through QSystemTrayIcon.
std::unique_ptr<ITrayBackend> MakeSystemTrayBackend();

using TNotifyEvent = std::function<void()>;
using TMouseEvent = std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)>;
using TMouseMoveEvent = std::function<void(Qt::KeyboardModifiers, int x, int y)>;

inline const QString kCannotCreateIconText =
    QStringLiteral("Cannot Create System Shell Notification Icon");
inline const QString kCannotRemoveIconText =
    QStringLiteral("Cannot Remove System Shell Notification Icon");

class TTrayIcon : public QObject {
  Q_OBJECT
 public:
  // Tooltips this long or longer are refused; the previous one stays.
  static constexpr int kHintLimit = 64;

  explicit TTrayIcon(QObject* parent = nullptr, std::unique_ptr<ITrayBackend> backend = nullptr);
  ~TTrayIcon() override;

  // Replaces the way to the desktop (tests hand in a recording one).
  void SetBackend(std::unique_ptr<ITrayBackend> backend);
  ITrayBackend& Backend() { return *backend_; }

  bool Visible() const { return visible_; }
  // Adds or removes the icon; raises kCannotCreateIconText / kCannotRemoveIconText
  // when the desktop refuses.
  void SetVisible(bool visible);

  const QString& Hint() const { return hint_; }
  void SetHint(const QString& text);

  // True while the icon is in the notification area.
  bool Hide() const { return hide_; }

  QMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(QMenu* menu);

  TTrayIconMessage RestoreOn = imDoubleClick;
  TTrayIconMessage PopupMenuOn = imNone;

  const std::vector<QImage>& Icons() const { return icons_; }
  void SetIcons(std::vector<QImage> icons);

  int IconIndex() const { return iconIndex_; }
  void SetIconIndex(int index);

  int AnimateInterval() const { return animateTimer_.interval(); }
  void SetAnimateInterval(int ms) { animateTimer_.setInterval(ms); }
  bool AnimateTimerRunning() const { return animateTimer_.isActive(); }

  bool Animate() const { return animate_; }
  // Stopping brings picture 0 back: a blink stopped on its blank picture
  // would leave an invisible icon, and the icon is how an alarm is seen.
  void SetAnimate(bool on);

  TNotifyEvent OnMinimize, OnRestore, OnClick;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseDown, OnMouseUp;
  // Not offered to the program; it stays unassigned there.
  TNotifyEvent OnDblClick;

  // The window that minimises into the notification area and comes back.
  void SetMainWindow(QWidget* window);
  // True while the main window is minimised and hidden in the notification area.
  bool WindowInTray() const { return windowInTray_; }
  // True while the main window is minimised, also where the display server
  // never says so (Wayland takes a minimised window off screen and leaves
  // its state normal).
  bool WindowMinimized() const;

  // Applies the properties once they are all set: the picture, the animation.
  void Loaded();
  void SetDefaultIcon();
  // Hands the current picture and hint to the desktop.
  void Update();
  void Minimize();
  void Restore();
  void ShowMenu();
  // One tick of the animation timer.
  void DoOnAnimate();

  // A click on the icon as the desktop reports it.
  void Activated(QSystemTrayIcon::ActivationReason reason);
  // One mouse message on the icon.
  void MouseMessage(TrayMouseMessage message);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Act(TTrayIconMessage happened);
  void DoClick();
  void DoDblClick();
  void DoMouseMove();
  void DoMouseDown(Qt::MouseButton button);
  void DoMouseUp(Qt::MouseButton button);
  // Turns a repeated press into the double-click the desktop does not report.
  bool IsSecondPress(QSystemTrayIcon::ActivationReason reason);

  std::unique_ptr<ITrayBackend> backend_;
  bool visible_ = false;
  bool hide_ = true;
  QString hint_;
  QPointer<QMenu> popupMenu_;
  std::vector<QImage> icons_;
  // One icon object per picture, so that showing the same picture again hands
  // the desktop the same icon and it has nothing to redraw.
  std::vector<QIcon> iconPictures_;
  int iconIndex_ = 0;
  bool animate_ = false;
  QTimer animateTimer_;
  QIcon picture_;
  QPointer<QWidget> window_;
  bool windowInTray_ = false;
  bool minimizedAway_ = false;

  QSystemTrayIcon::ActivationReason lastPress_ = QSystemTrayIcon::Unknown;
  qint64 lastPressAt_ = 0;
};
