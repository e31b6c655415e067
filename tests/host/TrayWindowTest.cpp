// SPDX-License-Identifier: GPL-3.0-or-later
// The icon and the sampler in the main window: set-up, the menu, minimising into
// the notification area while the status cycle and sampler carry on, the hint
// choice, and ending the sampler when the window closes.

#include "app/TForm1.h"
#include "host/CPUThread.h"
#include "host/TrayHint.h"
#include "monitor/DeviceData.h"
#include "monitor/QStringPrinter.h"
#include "support/FakeServices.h"
#include "ui_TForm1.h"
#include "widgets/TPerformanceGraph.h"
#include "widgets/TTrayIcon.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class DesktopWithTray : public ITrayBackend {
 public:
  bool Available() const override { return true; }
  bool Add(const QIcon&, const QString&) override { return true; }
  bool Modify(const QIcon&, const QString&) override { return true; }
  bool Remove() override { return true; }
};

class TrayWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    TrayHintOverride.Set(QString());
  }
  void TearDown() override {
    form.reset();
    TrayHintSource = 0;
  }
  void Start() { form = std::make_unique<TForm1>(fakes.services()); }
  void MinimiseToTray() {
    form->setWindowState(Qt::WindowMinimized);
    QApplication::processEvents();
  }
  // On a desktop that has a notification area.
  void StartMinimisedIntoTheArea() {
    Start();
    form->TrayIcon1()->SetBackend(std::make_unique<DesktopWithTray>());
    form->show();
    MinimiseToTray();
    ASSERT_FALSE(form->isVisible());
  }
  Ui::TForm1& ui() { return form->ui(); }

  FakeServices fakes;
  std::unique_ptr<TForm1> form;
};

TEST_F(TrayWindowTest, StartUpMeasuresTheClockAndSetsUpIconGraphAndMenu) {
  fakes.cpu.clockMHz = 3100;
  Start();
  ASSERT_TRUE(form->CpuSpeedMHz());
  EXPECT_EQ(*form->CpuSpeedMHz(), 3100);
  EXPECT_EQ(*form->CpuLoadPercent(), 0);
  ASSERT_TRUE(form->CpuSampler());
  EXPECT_TRUE(form->CpuSampler()->isRunning());
  EXPECT_EQ(ui().CPUSpeedLoadPanel->text(), "MHz ");
  EXPECT_EQ(ui().CPULoadGraph->Model().GridSize(), 7);
  EXPECT_EQ(ui().CPULoadGraph->Model().Gradient(), 100);

  TTrayIcon* icon = form->TrayIcon1();
  ASSERT_TRUE(icon);
  EXPECT_TRUE(icon->Visible());
  EXPECT_EQ(icon->AnimateInterval(), 300);
  EXPECT_FALSE(icon->Animate());
  EXPECT_EQ(icon->IconIndex(), 0);
  EXPECT_EQ(icon->RestoreOn, imDoubleClick);
  EXPECT_EQ(icon->PopupMenuOn, imNone);
  EXPECT_EQ(icon->PopupMenu(), form->PopupMenu1());
  EXPECT_EQ(icon->Icons().size(), 2u);
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();

  // A right press on the icon opens the program's menu, a left one does not.
  form->TrayIcon1()->Activated(QSystemTrayIcon::Trigger);
  EXPECT_FALSE(form->PopupMenu1()->isVisible());
  form->TrayIcon1()->Activated(QSystemTrayIcon::Context);
  EXPECT_TRUE(form->PopupMenu1()->isVisible());
  form->PopupMenu1()->hide();
}

TEST_F(TrayWindowTest, MinimisedIntoTheAreaTheWindowKeepsItsStatusCycleAndComesBack) {
  ASSERT_NO_FATAL_FAILURE(StartMinimisedIntoTheArea());
  EXPECT_TRUE(form->CpuSampler()->MainWindowVisible());

  // A status report still reaches the System tab.
  fakes.link.respond = [](const Bytes& request) {
    packet::Payload payload{};
    payload[2] = 84;
    return FakeLink::Answer{28, MakeReplyFrame(request[1], payload)};
  };
  form->ExchangePacket(packet::MakeReadRequest(0x01));
  EXPECT_EQ(ui().SystemStatPanel->text(), "CRITICAL TEMPERATURE");

  form->TrayIcon1()->Activated(QSystemTrayIcon::DoubleClick);
  QApplication::processEvents();
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->isMinimized());

  // So do the menu's "Open" and a second start of the program.
  for (auto bringBack : {&TForm1::Open1Click, &TForm1::RestoreFromSecondStart}) {
    MinimiseToTray();
    ASSERT_FALSE(form->isVisible());
    (form.get()->*bringBack)();
    EXPECT_TRUE(form->isVisible());
  }

  // Merely hidden, it no longer counts.
  form->hide();
  EXPECT_FALSE(form->CpuSampler()->MainWindowVisible());
}

TEST_F(TrayWindowTest, ExitFromTheAreaStillHandsTheRunningHoursBack) {
  ASSERT_NO_FATAL_FAILURE(StartMinimisedIntoTheArea());
  form->Model().operatingHours = 1250;
  fakes.link.requests.clear();
  form->Exit1Click();
  const std::vector<Bytes> settings = fakes.link.RequestsNumbered(0x02);
  ASSERT_EQ(settings.size(), 1u);
  EXPECT_EQ(settings[0][3 + 17] | settings[0][3 + 18] << 8, 1250);
  EXPECT_FALSE(form->CpuSampler());
}

TEST_F(TrayWindowTest, ANewHintChoiceShowsAtOnce) {
  Start();
  ui().IconShowComboBox->setCurrentIndex(5);
  EXPECT_EQ(TrayHintSource, 5);
  EXPECT_EQ(form->TrayIcon1()->Hint(), "CPU Speed: 2400 MHz");
}

TEST_F(TrayWindowTest, ClosingEndsTheSamplerAtOnceEvenInTheMiddleOfASample) {
  Start();
  form->show();
  // The stand-in holds the sampler in its first measurement window.
  QElapsedTimer waited;
  waited.start();
  auto windows = [&] {
    const std::vector<int> sleeps = fakes.cpu.Sleeps();
    return std::count(sleeps.begin(), sleeps.end(), 1000);
  };
  while (windows() < 2 && waited.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_EQ(windows(), 2);
  QElapsedTimer closing;
  closing.start();
  form->Exit1Click();
  EXPECT_LT(closing.elapsed(), 500);
  EXPECT_FALSE(form->CpuSampler());
  EXPECT_FALSE(form->CpuSpeedMHz());
}

TEST_F(TrayWindowTest, TheSamplerEndsWithTheWindowWhenTheClosePathNeverRan) {
  Start();
  form->show();
  ASSERT_TRUE(form->CpuSampler());
  QElapsedTimer destroying;
  destroying.start();
  form.reset();
  EXPECT_LT(destroying.elapsed(), 500);
}

}  // namespace
