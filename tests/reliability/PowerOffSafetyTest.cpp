// SPDX-License-Identifier: GPL-3.0-or-later
// The emergency shutdown must never power a test machine or a demonstration
// off: every window under test holds a stand-in, the system bus is out of
// reach, the -sim program's power-off only tells the user, and closing cancels.

#include "SimEntry.h"
#include "SimulatedUnit.h"
#include "app/DesktopServices.h"
#include "app/TForm1.h"
#include "monitor/DeviceData.h"
#include "monitor/QStringPrinter.h"
#include "support/FakeServices.h"
#include "support/StatusReply.h"
#include "ui_TForm1.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace {

TEST(PowerOffSeams, EveryWindowUnderTestHoldsAStandInAndTheSystemBusIsOutOfReach) {
  FakeServices fakes;
  const Services services = fakes.services();
  ASSERT_NE(services.powerOff, nullptr);
  EXPECT_NE(dynamic_cast<FakePowerOff*>(services.powerOff), nullptr);
  EXPECT_EQ(dynamic_cast<LogindPowerOff*>(services.powerOff), nullptr);
  // Should a test ever construct the real power-off, its request would go to
  // a bus that is not there (see DBUS_SYSTEM_BUS_ADDRESS in vcc_add_gtest).
  EXPECT_FALSE(QDBusConnection::systemBus().isConnected())
      << "the tests can reach a system bus: " << qgetenv("DBUS_SYSTEM_BUS_ADDRESS").toStdString();
}

TEST(PowerOffSeams, TheSimulatedProgramInstallsAPowerOffThatOnlyTellsTheUser) {
  unitsim::SimulatedUnit unit(3);
  const EntryOptions options = unitsim::MakeSimEntryOptions(unit);
  ASSERT_TRUE(options.makePowerOff) << "the -sim program would fall back to the system's power-off";
  const std::unique_ptr<IPowerOff> powerOff = options.makePowerOff();
  ASSERT_NE(powerOff, nullptr);
  EXPECT_EQ(dynamic_cast<LogindPowerOff*>(powerOff.get()), nullptr);

  powerOff->RequestPowerOff();
  QMessageBox* shown = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box && box->isVisible() && box->text().contains(QStringLiteral("would now be powered off")))
      shown = box;
  }
  ASSERT_NE(shown, nullptr) << "the simulated power-off did not tell the user";
  shown->close();
}

class ArmedShutdown : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    fakes.link.respond = [this](const Bytes& request) {
      if (request.size() == 28) return FakeLink::Answer{3, Bytes{0x01, request[1], 0x04}};
      if (request[1] == packet::kStatus)
        return FakeLink::Answer{28, MakeReplyFrame(packet::kStatus, StatusPayload(reading))};
      return FakeLink::Answer{28, MakeReplyFrame(request[1])};
    };
  }
  void TearDown() override { form.reset(); }

  void StartAndArm(const Services& services) {
    form = std::make_unique<TForm1>(services);
    form->show();
    reading.state = 85;  // TEMPERATURE FAILURE: red
    form->Watcher().UpdateDataTimerTimer();
    ASSERT_TRUE(form->Alarm().ShutDownTimer.isActive());
  }

  Reading reading;
  FakeServices fakes;
  std::unique_ptr<TForm1> form;
};

TEST_F(ArmedShutdown, WithoutAPowerOffSeamTheShutdownAsksForNothingAndTheProgramGoesOn) {
  Services services = fakes.services();
  services.powerOff = nullptr;
  StartAndArm(services);
  fakes.link.requests.clear();
  form->Alarm().ShutDownTimerTimer();
  EXPECT_EQ(fakes.powerOff.requests, 0);
  // The rest of the shutdown still happens: the unit is told.
  EXPECT_EQ(fakes.link.RequestsNumbered(packet::kShutdownNotice).size(), 1u);
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();
  reading.state = 3;
  form->Watcher().UpdateDataTimerTimer();
  EXPECT_FALSE(form->Alarm().ShutDownTimer.isActive());
}

TEST_F(ArmedShutdown, EveryWayOfClosingCancelsItEvenWhenItsTimerStillFiresAfterwards) {
  const struct {
    const char* way;
    std::function<void(TForm1&)> close;
  } ways[] = {
      {"window closed", [](TForm1& f) { f.close(); }},
      {"Exit in the notification area", [](TForm1& f) { f.Exit1Click(); }},
      {"close path failing on the way",
       [this](TForm1& f) {
         fakes.link.onClose = [] { throw std::runtime_error("the unit went away"); };
         f.close();
         fakes.link.onClose = nullptr;
         EXPECT_EQ(fakes.boxes.shown, QStringList{"Error: the unit went away"});
       }},
  };
  for (const auto& w : ways) {
    SCOPED_TRACE(w.way);
    fakes.boxes.shown.clear();
    ASSERT_NO_FATAL_FAILURE(StartAndArm(fakes.services()));
    form->Alarm().ShutDownTimer.setInterval(10);  // falls due while the program ends
    w.close(*form);
    QTest::qWait(100);
    form->Alarm().ShutDownTimerTimer();
    EXPECT_EQ(fakes.powerOff.requests, 0);
  }
}

}  // namespace
