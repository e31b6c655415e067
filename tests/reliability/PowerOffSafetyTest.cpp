// The emergency shutdown is the one thing this program does that a test run
// or a demonstration must never do for real. Every window under test holds a
// stand-in power-off, tests cannot reach the system bus at all, a window
// without a power-off seam asks for nothing, the -sim program installs its
// own harmless power-off, and closing the program cancels an armed shutdown
// whichever way it is closed.

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
    form->UpdateDataTimerTimer();
    ASSERT_TRUE(form->ShutDownTimer.isActive());
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
  form->ShutDownTimerTimer();
  EXPECT_EQ(fakes.powerOff.requests, 0);
  // The rest of the shutdown still happens: the unit is told.
  EXPECT_EQ(fakes.link.RequestsNumbered(packet::kShutdownNotice).size(), 1u);
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();
  reading.state = 3;
  form->UpdateDataTimerTimer();
  EXPECT_FALSE(form->ShutDownTimer.isActive());
}

TEST_F(ArmedShutdown, ClosingTheWindowCancelsItEvenWhenItsTimerStillFiresAfterwards) {
  StartAndArm(fakes.services());
  form->ShutDownTimer.setInterval(10);  // falls due while the program ends
  form->close();
  QTest::qWait(100);
  EXPECT_EQ(fakes.powerOff.requests, 0);
}

TEST_F(ArmedShutdown, ExitFromTheNotificationAreaCancelsItToo) {
  StartAndArm(fakes.services());
  form->ShutDownTimer.setInterval(10);
  form->Exit1Click();
  QTest::qWait(100);
  EXPECT_EQ(fakes.powerOff.requests, 0);
}

TEST_F(ArmedShutdown, AClosePathCutShortByAFailureStillCancelsIt) {
  StartAndArm(fakes.services());
  form->ui().OperHours->setText(QStringLiteral("abc"));  // the hours cannot go back to the unit
  form->ShutDownTimer.setInterval(10);
  form->close();
  EXPECT_EQ(fakes.boxes.shown, QStringList{"Error: 'abc' is not a valid integer value"});
  QTest::qWait(100);
  form->ShutDownTimerTimer();
  EXPECT_EQ(fakes.powerOff.requests, 0);
}

}  // namespace
