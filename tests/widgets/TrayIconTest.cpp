// SPDX-License-Identifier: GPL-3.0-or-later
// The notification-area icon: its pictures, the hint rules, blinking, how the
// desktop's click reports become events, and minimising into the area. The
// desktop is a recording stand-in, except in one test on the headless platform.

#include "widgets/TTrayIcon.h"
#include "widgets/TrayIcons.h"

#include "monitor/QStringPrinter.h"

#include <QApplication>
#include <QMenu>
#include <QWidget>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class RecordingBackend : public ITrayBackend {
 public:
  struct Shown {
    QImage picture;
    QString tip;
    qint64 key = 0;
  };
  bool available = true;
  bool refuseAdd = false;
  int removes = 0;
  std::vector<Shown> modifies;
  bool present = false;
  Shown current;

  bool Available() const override { return available; }
  bool Add(const QIcon& icon, const QString& tip) override {
    if (refuseAdd) return false;
    present = true;
    current = {Picture(icon), tip, icon.cacheKey()};
    return true;
  }
  bool Modify(const QIcon& icon, const QString& tip) override {
    current = {Picture(icon), tip, icon.cacheKey()};
    modifies.push_back(current);
    return true;
  }
  bool Remove() override {
    ++removes;
    present = false;
    return true;
  }
  void Click(QSystemTrayIcon::ActivationReason reason) { onActivated(reason); }

 private:
  static QImage Picture(const QIcon& icon) {
    return icon.isNull() ? QImage() : icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
  }
};

void ShowAndMinimise(QWidget& window) {
  window.show();
  window.setWindowState(Qt::WindowMinimized);
  QApplication::processEvents();
}

// The icon as the program sets it up.
class TrayIconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto owned = std::make_unique<RecordingBackend>();
    backend = owned.get();
    tray = std::make_unique<TTrayIcon>(nullptr, std::move(owned));
    tray->SetIcons(ImageList1());
    tray->SetAnimateInterval(300);
    tray->RestoreOn = imDoubleClick;
    tray->PopupMenuOn = imNone;
    tray->OnMouseDown = [this](Qt::MouseButton button, Qt::KeyboardModifiers, int, int) {
      mouseDowns.push_back(button);
    };
    tray->OnRestore = [this] { ++restores; };
    tray->Loaded();
    tray->SetVisible(true);
  }

  RecordingBackend* backend = nullptr;
  std::unique_ptr<TTrayIcon> tray;
  std::vector<Qt::MouseButton> mouseDowns;
  int restores = 0;
};

TEST(TrayPictures, NormalPictureIsSevenNavySquaresAndTheOtherIsBlank) {
  const std::vector<QImage> pictures = ImageList1();
  ASSERT_EQ(pictures.size(), 2u);
  for (const QImage& picture : pictures) ASSERT_EQ(picture.size(), QSize(16, 16));
  // 4-pixel squares on a 5-pixel pitch from (1, 1), by (row, column).
  const bool filled[3][3] = {{true, false, true}, {true, true, false}, {true, true, true}};
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const int col = (x - 1) / 5, row = (y - 1) / 5;
      const bool inSquare = x >= 1 && y >= 1 && (x - 1) % 5 < 4 && (y - 1) % 5 < 4 && col < 3 &&
                            row < 3 && filled[row][col];
      const QRgb pixel = pictures[0].pixel(x, y);
      if (inSquare)
        EXPECT_EQ(pixel, qRgba(0, 0, 128, 255)) << x << "," << y;
      else
        EXPECT_EQ(qAlpha(pixel), 0) << x << "," << y;
      EXPECT_EQ(qAlpha(pictures[1].pixel(x, y)), 0) << x << "," << y;
    }
  }
}

TEST_F(TrayIconTest, HintRules) {
  ASSERT_TRUE(backend->present);
  EXPECT_EQ(backend->current.picture, ImageList1()[0]);

  const QString longest = QString(63, QLatin1Char('a'));
  tray->SetHint(longest);
  EXPECT_EQ(backend->current.tip, longest);

  // 64 characters or more: dropped, the previous one stays.
  tray->SetHint(QString(64, QLatin1Char('b')));
  EXPECT_EQ(tray->Hint(), longest);
  EXPECT_EQ(backend->current.tip, longest);

  // The same text again sends nothing.
  tray->SetHint(QStringLiteral("CPU load: 12 %"));
  const std::size_t sent = backend->modifies.size();
  tray->SetHint(QStringLiteral("CPU load: 12 %"));
  EXPECT_EQ(backend->modifies.size(), sent);

  // Clearing it takes the tooltip away and leaves the icon working.
  tray->SetHint(QString());
  EXPECT_EQ(backend->current.tip, QString());
  EXPECT_TRUE(backend->present);
  EXPECT_EQ(backend->removes, 0);
  EXPECT_EQ(backend->current.picture, ImageList1()[0]);
  backend->Click(QSystemTrayIcon::Context);
  EXPECT_EQ(mouseDowns, std::vector<Qt::MouseButton>{Qt::RightButton});
}

TEST_F(TrayIconTest, AnimationAlternatesThePicturesAndStoppingShowsTheNormalOne) {
  tray->SetAnimate(true);
  EXPECT_TRUE(tray->AnimateTimerRunning());
  EXPECT_EQ(tray->AnimateInterval(), 300);

  const std::vector<QImage> pictures = ImageList1();
  std::vector<int> indexes;
  for (int tick = 0; tick < 4; ++tick) {
    tray->DoOnAnimate();
    indexes.push_back(tray->IconIndex());
    EXPECT_EQ(backend->current.picture, pictures[static_cast<std::size_t>(tray->IconIndex())]);
  }
  EXPECT_EQ(indexes, (std::vector<int>{1, 0, 1, 0}));

  // Stopped on the blank picture, whoever stops it: the icon must not vanish.
  tray->DoOnAnimate();
  ASSERT_EQ(backend->current.picture, pictures[1]);
  tray->SetAnimate(false);
  EXPECT_FALSE(tray->AnimateTimerRunning());
  EXPECT_EQ(tray->IconIndex(), 0);
  EXPECT_EQ(backend->current.picture, pictures[0]);

  // Showing the picture that is shown hands the desktop the same icon, so it
  // has nothing to redraw (an alarm sets picture 0 at every reply).
  const qint64 shown = backend->current.key;
  tray->SetIconIndex(0);
  EXPECT_EQ(backend->current.key, shown);

  // A desktop that takes the icon anew (a notification area that appears
  // late or restarts) gets the normal picture too.
  tray->SetAnimate(true);
  tray->DoOnAnimate();
  tray->SetAnimate(false);
  tray->SetVisible(false);
  tray->SetVisible(true);
  EXPECT_EQ(backend->current.picture, pictures[0]);

  // Without pictures there is nothing to blink.
  TTrayIcon bare(nullptr, std::make_unique<RecordingBackend>());
  bare.Loaded();
  bare.SetAnimate(true);
  EXPECT_FALSE(bare.Animate());
  EXPECT_FALSE(bare.AnimateTimerRunning());
}

TEST_F(TrayIconTest, ProgramSettingsRightPressGoesToMouseDownAnyDoubleClickRestores) {
  backend->Click(QSystemTrayIcon::Trigger);
  EXPECT_EQ(restores, 0);
  EXPECT_EQ(mouseDowns, std::vector<Qt::MouseButton>{Qt::LeftButton});

  mouseDowns.clear();
  backend->Click(QSystemTrayIcon::Context);
  EXPECT_EQ(mouseDowns, std::vector<Qt::MouseButton>{Qt::RightButton});
  EXPECT_EQ(restores, 0);

  backend->Click(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(restores, 1);

  // The desktop reports right and middle presses one by one; two in quick
  // succession are a double-click, and a third starts a new pair.
  backend->Click(QSystemTrayIcon::MiddleClick);
  EXPECT_EQ(restores, 1);
  backend->Click(QSystemTrayIcon::MiddleClick);
  EXPECT_EQ(restores, 2);
  backend->Click(QSystemTrayIcon::Context);
  backend->Click(QSystemTrayIcon::Context);
  EXPECT_EQ(restores, 3);
  backend->Click(QSystemTrayIcon::Context);
  EXPECT_EQ(restores, 3);
}

TEST_F(TrayIconTest, RestoreOnSelectsTheMouseAction) {
  using M = TrayMouseMessage;
  struct Case {
    TTrayIconMessage setting;
    M message;
    bool restores;
  };
  const Case cases[] = {
      {imMouseDown, M::LeftDown, true},           {imMouseDown, M::MiddleDown, true},
      {imMouseDown, M::LeftUp, false},            {imMouseUp, M::RightUp, true},
      {imMouseUp, M::RightDown, false},           {imLeftClickUp, M::LeftUp, true},
      {imLeftClickUp, M::RightUp, false},         {imRightClickUp, M::RightUp, true},
      {imRightClickUp, M::MiddleUp, false},       {imLeftDoubleClick, M::LeftDoubleClick, true},
      {imLeftDoubleClick, M::RightDoubleClick, false},
      {imRightDoubleClick, M::RightDoubleClick, true},
      {imDoubleClick, M::MiddleDoubleClick, true}, {imDoubleClick, M::LeftDown, false},
      {imNone, M::LeftDoubleClick, false},
      // A click counts only while someone listens to OnClick.
      {imClick, M::LeftUp, false},
  };
  for (const Case& c : cases) {
    tray->RestoreOn = c.setting;
    restores = 0;
    tray->MouseMessage(c.message);
    EXPECT_EQ(restores, c.restores ? 1 : 0)
        << "setting " << c.setting << " message " << static_cast<int>(c.message);
  }
  int clicks = 0;
  tray->OnClick = [&] { ++clicks; };
  tray->RestoreOn = imClick;
  restores = 0;
  tray->MouseMessage(M::LeftUp);
  EXPECT_EQ(restores, 1);
  EXPECT_EQ(clicks, 1);
}

TEST_F(TrayIconTest, PopupMenuOnShowsTheComponentsMenu) {
  QMenu menu;
  menu.addAction(QStringLiteral("Open"));
  tray->SetPopupMenu(&menu);
  backend->Click(QSystemTrayIcon::Context);
  EXPECT_FALSE(menu.isVisible());  // imNone: the program opens its menu itself
  tray->PopupMenuOn = imRightClickUp;
  backend->Click(QSystemTrayIcon::Trigger);
  EXPECT_FALSE(menu.isVisible());
  backend->Click(QSystemTrayIcon::MiddleClick);  // breaks any right-click pairing
  backend->Click(QSystemTrayIcon::Context);
  EXPECT_TRUE(menu.isVisible());
  menu.hide();
}

TEST_F(TrayIconTest, MinimisingHidesTheWindowUntilADoubleClick) {
  QWidget window;
  tray->SetMainWindow(&window);
  ShowAndMinimise(window);
  EXPECT_FALSE(window.isVisible());  // no task-bar entry either
  EXPECT_TRUE(tray->WindowInTray());

  backend->Click(QSystemTrayIcon::Trigger);
  EXPECT_FALSE(window.isVisible());
  backend->Click(QSystemTrayIcon::DoubleClick);
  QApplication::processEvents();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
  EXPECT_FALSE(tray->WindowInTray());

  // Taking the icon away brings a hidden window back.
  ShowAndMinimise(window);
  ASSERT_FALSE(window.isVisible());
  tray->SetVisible(false);
  QApplication::processEvents();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(backend->present);
  EXPECT_FALSE(tray->Hide());
}

TEST_F(TrayIconTest, WithoutANotificationAreaMinimisingKeepsTheWindow) {
  backend->available = false;
  QWidget window;
  tray->SetMainWindow(&window);
  ShowAndMinimise(window);
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(tray->WindowInTray());
}

TEST(TrayIconOnThisDesktop, WithoutANotificationAreaNothingComplains) {
  // The test runs without a session bus (tests/widgets/CMakeLists.txt) and
  // offscreen, so neither kind of notification area is there.
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  TTrayIcon tray;
  tray.SetIcons(ImageList1());
  tray.Loaded();
  EXPECT_NO_THROW(tray.SetVisible(true));
  tray.SetHint(QStringLiteral("Evaporator Temp: -35"));
  EXPECT_EQ(tray.Hint(), "Evaporator Temp: -35");
  QWidget window;
  tray.SetMainWindow(&window);
  ShowAndMinimise(window);
  EXPECT_TRUE(window.isVisible());
  EXPECT_NO_THROW(tray.SetVisible(false));
}

TEST(TrayIconRefused, AddingRaisesTheDesktopsRefusal) {
  auto owned = std::make_unique<RecordingBackend>();
  owned->refuseAdd = true;
  TTrayIcon tray(nullptr, std::move(owned));
  try {
    tray.SetVisible(true);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(QString::fromUtf8(e.what()), kCannotCreateIconText);
  }
  EXPECT_FALSE(tray.Visible());
}

}  // namespace
