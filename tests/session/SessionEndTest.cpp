// SPDX-License-Identifier: GPL-3.0-or-later
// The close asked for by the system, against the main window over fakes: it
// waits for the emergency shutdown sequence to tell the unit, it gets past a
// modal box, and it runs once however many signals come.

#include "app/DesktopServices.h"
#include "app/WindowFixture.h"
#include "session/SessionEnd.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <csignal>
#include <functional>

namespace {

// A clock whose "let pending events through" really does, as the system's
// does; the pause can be watched.
class EventClock : public FakeClock {
 public:
  std::function<void()> duringPause;
  void Pause(int ms) override {
    FakeClock::Pause(ms);
    if (ms == 10000 && duringPause) duringPause();
  }
  void ProcessPendingEvents() override {
    FakeClock::ProcessPendingEvents();
    QCoreApplication::processEvents();
  }
};

class SignallingPowerOff : public IPowerOff {
 public:
  bool signalAtRequest = false;
  // The system answers a power-off by ending the session: SIGTERM.
  void RequestPowerOff() override {
    if (signalAtRequest) std::raise(SIGTERM);
  }
};

class SessionEndTest : public WindowFixture {
 protected:
  void StartWatched(const Services& services) {
    StartWith(services);
    AnswerAsTheUnit(true);
    form->Model().operatingHours = 1250;  // the unit has reported its hours
    session = std::make_unique<SessionEnd>();
    ASSERT_TRUE(session->Signals().Active());
    QObject::connect(form.get(), &TForm1::closed, session.get(), &SessionEnd::WindowClosed);
    session->Watch(*form, [this] { return !form->ShutdownSequenceRunning(); });
    fakes.link.requests.clear();
  }
  void TearDown() override {
    session.reset();
    WindowFixture::TearDown();
  }
  // Runs the event loop until the window has closed, at most the limit.
  bool RunUntilClosed(int limitMs) {
    if (form->Terminating()) return true;
    QEventLoop loop;
    QObject::connect(form.get(), &TForm1::closed, &loop, &QEventLoop::quit);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    loop.exec();
    return form->Terminating();
  }
  static bool IsBlank06(const Bytes& r) {
    return r.size() == 28 && r[1] == 0x06 && std::all_of(r.begin() + 3, r.begin() + 27, [](auto b) { return b == 0x20; });
  }
  // A second signal while the close path talks to the unit.
  void SignalAgainDuringClosePath() {
    auto answer = fakes.link.respond;
    fakes.link.respond = [answer](const Bytes& request) {
      if (IsBlank06(request)) std::raise(SIGTERM);
      return answer(request);
    };
  }

  std::unique_ptr<SessionEnd> session;
};

TEST_F(SessionEndTest, ASignalDuringTheShutdownSequenceWaitsForTheNotice) {
  struct Case {
    const char* when;
    bool atPowerOffRequest;  // before the sequence lets pending events through
    bool duringPause;
  };
  for (const Case& c : {Case{"at the power-off request", true, false}, Case{"during the 10 s pause", false, true}}) {
    SCOPED_TRACE(c.when);
    EventClock clock;
    SignallingPowerOff powerOff;
    powerOff.signalAtRequest = c.atPowerOffRequest;
    if (c.duringPause) clock.duringPause = [] { std::raise(SIGTERM); };
    Services services = fakes.services();
    services.clock = &clock;
    services.powerOff = &powerOff;
    StartWatched(services);
    SignalAgainDuringClosePath();

    form->Alarm().ShutDownTimerTimer();
    EXPECT_FALSE(form->Terminating()) << "closed inside the shutdown sequence";
    EXPECT_EQ(clock.pauses.back(), 10000);
    ASSERT_TRUE(RunUntilClosed(2000));
    QCoreApplication::processEvents();  // the second signal is read, and ignored

    const auto& sent = fakes.link.requests;
    const auto notice = std::find(sent.begin(), sent.end(), Bytes{0x01, 0x85, 0x04});
    ASSERT_NE(notice, sent.end());
    ASSERT_EQ(sent.end() - notice, 4) << "the close path, once, right after the notice";
    EXPECT_EQ((*(notice + 1))[1], 0x02);
    EXPECT_TRUE(IsBlank06(*(notice + 2)));
    EXPECT_EQ((*(notice + 3))[1], 0x07);
    session.reset();
  }
}

TEST_F(SessionEndTest, ASignalUnderAModalBoxClosesAfterTheBoxWithinTwoSeconds) {
  QtMessageBoxes boxes;  // a real modal box with its own event loop
  Services services = fakes.services();
  services.boxes = &boxes;
  StartWatched(services);
  SignalAgainDuringClosePath();

  bool aboutReturned = false, returnedBeforeClosePath = false;
  auto answer = fakes.link.respond;
  fakes.link.respond = [&, answer](const Bytes& request) {
    if (IsBlank06(request)) returnedBeforeClosePath = aboutReturned;
    return answer(request);
  };
  QElapsedTimer sinceSignal;
  QTimer::singleShot(0, form.get(), [&] {
    form->About1Click();
    aboutReturned = true;
  });
  QTimer::singleShot(200, form.get(), [&] {
    ASSERT_NE(QApplication::activeModalWidget(), nullptr);
    sinceSignal.start();
    std::raise(SIGTERM);
  });
  // Should the box outlive the close, this test ends it and fails.
  QTimer::singleShot(3000, form.get(), [] {
    if (QWidget* box = QApplication::activeModalWidget()) box->hide();
  });
  ASSERT_TRUE(RunUntilClosed(5000));
  EXPECT_LT(sinceSignal.elapsed(), 2000);
  EXPECT_TRUE(returnedBeforeClosePath) << "the window closed under the box's handler";
  QCoreApplication::processEvents();
  EXPECT_EQ(std::count_if(fakes.link.requests.begin(), fakes.link.requests.end(), IsBlank06), 1);
}

}  // namespace
