// SPDX-License-Identifier: GPL-3.0-or-later
// The main window over the real USB link, libusb and the unit emulated by
// umockdev: what the status bar and the System tab show while the unit is
// polled, pulled out and plugged back in.

#include "EmulatedUnit.h"
#include "FakeDriver.h"

#include "SimulatedUnit.h"
#include "app/TForm1.h"
#include "device/UsbLink.h"
#include "device/wdu/LibusbStandIn.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "ui_TForm1.h"

#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

struct NoRunner : IProcessRunner {
  bool RunAndWait(const std::string&, const std::vector<std::string>&) override { return false; }
};

class EmulatedProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    model.Advance(400);  // past power-up and boot delay
    bench = std::make_unique<EmulatedUnit>(model);
    bench->PlugIn(UnitVendorId, UnitProductId);
    driver = std::make_unique<wdu::LibusbStandIn>();
    UsbLink::Options options;
    options.accessRuleNeeded = false;
    options.attachWait = std::chrono::milliseconds(3000);
    link = std::make_unique<UsbLink>(*driver, runner, options);
    Services s = fakes.services();
    s.link = link.get();
    form = std::make_unique<TForm1>(s);
    form->show();
  }
  void TearDown() override {
    form.reset();
    link.reset();
    driver.reset();
    bench.reset();
  }
  void ClearQueue() {
    while (!form->Queue()->IsEmpty()) form->Queue()->TakeFirst();
  }
  bool LinkLostQueued() const {
    const auto& texts = form->Queue()->Texts();
    return std::find(texts.begin(), texts.end(), kLinkLostText) != texts.end();
  }

  unitsim::SimulatedUnit model{42};
  std::unique_ptr<EmulatedUnit> bench;
  std::unique_ptr<wdu::LibusbStandIn> driver;
  NoRunner runner;
  std::unique_ptr<UsbLink> link;
  FakeServices fakes;
  std::unique_ptr<TForm1> form;
};

TEST_F(EmulatedProgram, PollsDecodeAndWhileUnpluggedEveryTickQueuesTheLostLinkUntilReplug) {
  ASSERT_TRUE(form->LinkStarted());
  ASSERT_FALSE(form->Terminating());
  model.SetSensor(1, -41.0);
  form->Watcher().UpdateDataTimerTimer();
  ASSERT_EQ(form->ui().Temp1->text(), QString("-41\u00B0C"));
  EXPECT_EQ(form->ui().FanRPM1->text(), QString::number(model.FanRpm(1)) + " RPM");
  EXPECT_FALSE(LinkLostQueued());
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();

  bench->Unplug();
  ASSERT_TRUE(wdutest::Eventually([&] { return link->CurrentDevice() == nullptr; }));
  model.SetSensor(1, -38.0);
  for (int tick = 0; tick < 2; ++tick) {
    ClearQueue();
    form->Watcher().UpdateDataTimerTimer();
    // Once for the line-2 write, once for the status request.
    EXPECT_EQ(form->Queue()->Texts(), (std::deque<QString>{kLinkLostText, kLinkLostText}));
    EXPECT_EQ(form->ui().Temp1->text(), QString("-41\u00B0C"));  // nothing decoded
  }

  bench->PlugIn(UnitVendorId, UnitProductId);
  ASSERT_TRUE(wdutest::Eventually([&] { return link->CurrentDevice() != nullptr; }));
  ClearQueue();
  form->Watcher().UpdateDataTimerTimer();
  EXPECT_EQ(form->ui().Temp1->text(), QString("-38\u00B0C"));
  EXPECT_FALSE(LinkLostQueued());
  EXPECT_EQ(bench->SeenOn(bench->UnitNode()).claimed, std::vector<unsigned>{0});
}

TEST_F(EmulatedProgram, AStatusAnswerLaterThanTheTimeOutLeavesTheNextPollsInStep) {
  model.SetSensor(1, -41.0);
  bench->DelayNextReplyTo(1, std::chrono::milliseconds(3500));
  ClearQueue();
  form->Watcher().UpdateDataTimerTimer();  // the status read gives up after 3 s
  EXPECT_TRUE(LinkLostQueued());
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the late answer has come
  for (const int celsius : {-37, -33}) {
    model.SetSensor(1, celsius);
    ClearQueue();
    form->Watcher().UpdateDataTimerTimer();
    EXPECT_EQ(form->ui().Temp1->text().toStdString(), QString("%1\u00B0C").arg(celsius).toStdString());
    EXPECT_FALSE(LinkLostQueued());
  }
}

}  // namespace

int main(int argc, char** argv) {
  RunUnderUmockdev(argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
