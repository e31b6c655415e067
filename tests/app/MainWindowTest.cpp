// The main window's spine: start-up order, the packet transaction, the
// status-bar tick, help, the tray menu and the close path, all against fakes.

#include "app/TForm1.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "ui_TForm1.h"
#include "widgets/Palette.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QStatusBar>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetDeviceData(); }
  void Start() { form = std::make_unique<TForm1>(fakes.services()); }
  void TearDown() override { form.reset(); }

  // Makes the next TransferPacket answer `result` with `bytes` in the reply area.
  void AnswerNextWith(std::uint32_t result, Bytes bytes) {
    fakes.link.respond = [result, bytes](const Bytes&) {
      return FakeLink::Answer{result, bytes};
    };
  }

  QString StatusBarText() { return form->ui().MainStatusBar->currentMessage(); }

  FakeServices fakes;
  std::unique_ptr<TForm1> form;
};

TEST_F(MainWindowTest, StartUpReadsTheFourBlocksThenStartsTheSixTimers) {
  Start();
  ASSERT_EQ(fakes.link.requests.size(), 5u);
  const std::uint8_t expected[] = {0x01, 0x02, 0x03, 0x06};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(fakes.link.requests[i], (Bytes{0x01, expected[i], 0x04})) << i;
    EXPECT_EQ(fakes.link.replyLengths[i], 88u);
  }
  EXPECT_EQ(fakes.clock.pauses, (std::vector<int>{50, 50, 50, 50, 100}));
  // Then both fans go to "Normal" at once.
  const Bytes& fans = fakes.link.requests[4];
  ASSERT_EQ(fans.size(), 28u);
  EXPECT_EQ(fans[1], 0x03);
  auto word = [&](int offset) { return fans[3 + offset] | (fans[4 + offset] << 8); };
  EXPECT_EQ(word(0), 2100);
  EXPECT_EQ(word(2), 1100);
  EXPECT_EQ(word(4), 1400);
  EXPECT_EQ(word(16), 1100);
  EXPECT_EQ(word(18), 1400);
  EXPECT_TRUE(form->LinkStarted());
  EXPECT_TRUE(form->FormReady());
  EXPECT_FALSE(form->Terminating());

  for (QTimer* t : {&form->WriteChangesTimer, &form->DisplayIntervalTimer, &form->MaintainTimer,
                    &form->HoursRunTimer, &form->UpdateDataTimer, &form->StatusTimer})
    EXPECT_TRUE(t->isActive());
  for (QTimer* t : {&form->HeatingCountDownTimer, &form->ShutDownTimer, &form->BlinkTimer})
    EXPECT_FALSE(t->isActive());
  EXPECT_EQ(form->UpdateDataTimer.interval(), 3000);
  EXPECT_EQ(form->StatusTimer.interval(), 1500);
  EXPECT_EQ(form->WriteChangesTimer.interval(), 4000);
  EXPECT_EQ(form->MaintainTimer.interval(), 30000);
  EXPECT_EQ(form->HoursRunTimer.interval(), 3600000);
  EXPECT_EQ(form->ShutDownTimer.interval(), 180000);
  EXPECT_EQ(form->BlinkTimer.interval(), 300);

  EXPECT_EQ(form->windowTitle(), kApplicationTitle);
  EXPECT_EQ(form->ui().PageControl1->currentIndex(), 0);
  EXPECT_EQ(TextColor(form->ui().SetupAlm), StatusOrange);
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();
}

TEST_F(MainWindowTest, NoUnitAtStartEndsWithTheFailureTextAndSendsNothing) {
  fakes.link.openResult = false;
  Start();
  EXPECT_EQ(fakes.boxes.shown, QStringList{kUsbFailedText});
  EXPECT_TRUE(form->Terminating());
  EXPECT_FALSE(form->FormReady());
  EXPECT_TRUE(fakes.link.requests.empty());
  EXPECT_FALSE(form->UpdateDataTimer.isActive());
}

TEST_F(MainWindowTest, NothingIsSentBeforeTheLinkIsStarted) {
  struct ThrowingLink : FakeLink {
    bool InstallDriverIfMissing() override { throw std::runtime_error("no rule"); }
  } link;
  Services s = fakes.services();
  s.link = &link;
  form = std::make_unique<TForm1>(s);
  EXPECT_EQ(fakes.boxes.shown, QStringList{"Error: no rule"});
  EXPECT_FALSE(form->LinkStarted());
  form->UpdateDataTimerTimer();
  EXPECT_TRUE(link.requests.empty());
  EXPECT_TRUE(link.resets.empty());
}

TEST_F(MainWindowTest, DataPollSendsDisplayLineTwoThenRequestsPacketOne) {
  Start();
  fakes.link.requests.clear();
  form->UpdateDataTimerTimer();
  ASSERT_EQ(fakes.link.requests.size(), 2u);
  EXPECT_EQ(fakes.link.requests[0][1], 0x07);
  EXPECT_EQ(fakes.link.requests[1], (Bytes{0x01, 0x01, 0x04}));
  EXPECT_TRUE(form->Queue()->IsEmpty());
}

TEST_F(MainWindowTest, BadReplyLengthsCountAsALostLinkAndResetBothPipes) {
  Start();
  for (std::uint32_t result : {0u, 27u, 29u, 0x20000015u}) {
    fakes.link.resets.clear();
    while (!form->Queue()->IsEmpty()) form->Queue()->TakeFirst();
    Bytes frame = MakeReplyFrame(0x01);
    frame.resize(result == 29u ? 29 : 28, 0);
    AnswerNextWith(result, frame);
    form->ExchangePacket(packet::MakeReadRequest(0x01));
    EXPECT_EQ(fakes.link.resets, (std::vector<std::uint8_t>{0x02, 0x81})) << result;
    ASSERT_EQ(form->Queue()->Count(), 1u) << result;
    EXPECT_EQ(form->Queue()->TakeFirst(), kLinkLostText);
  }
}

TEST_F(MainWindowTest, AcceptedAndDroppedRepliesReportNothing) {
  Start();
  fakes.link.resets.clear();
  const std::vector<Bytes> replies = {
      {0x01, 0x85, 0x04},                 // 3-byte answer: accepted, wrong framing, dropped
      MakeReplyFrame(0x04),               // numbers without a decoder
      MakeReplyFrame(0x05),
      [] { Bytes b = MakeReplyFrame(0x01); b[2] = 0x04; return b; }(),
  };
  for (const Bytes& reply : replies) {
    AnswerNextWith(static_cast<std::uint32_t>(reply.size()), reply);
    form->ExchangePacket(packet::MakeReadRequest(0x01));
  }
  EXPECT_TRUE(fakes.link.resets.empty());
  EXPECT_TRUE(form->Queue()->IsEmpty());
  EXPECT_TRUE(fakes.boxes.shown.isEmpty());
}

TEST_F(MainWindowTest, RequestOfUnknownFramingIsReportedAndStillSentWithLengthFour) {
  Start();
  fakes.link.requests.clear();
  packet::Request junk{};
  junk[0] = 0x7F;
  form->ExchangePacket(junk);
  EXPECT_EQ(fakes.boxes.shown, QStringList{"Error in size : 4"});
  ASSERT_EQ(fakes.link.requests.size(), 1u);
  EXPECT_EQ(fakes.link.requests[0].size(), 4u);
}

TEST_F(MainWindowTest, ALinkFailureInsideTheExchangeIsShownAsError) {
  Start();
  fakes.link.respond = [](const Bytes&) -> FakeLink::Answer {
    throw std::runtime_error("pipe broke");
  };
  form->ExchangePacket(packet::MakeReadRequest(0x01));
  EXPECT_EQ(fakes.boxes.shown, QStringList{"Error: pipe broke"});
}

TEST_F(MainWindowTest, AnErrorAlreadyOnScreenIsNotStackedAgain) {
  Start();
  int nested = 0;
  fakes.boxes.onShow = [&](const QString&) {
    // While the box is open the timers go on and report the same fault again,
    // and a different one.
    if (nested++ < 3) {
      form->ReportError("same fault");
      form->ReportError("other fault");
    }
  };
  form->ReportError("same fault");
  EXPECT_EQ(fakes.boxes.shown, (QStringList{"Error: same fault", "Error: other fault"}));
  // Once dismissed, the next occurrence is shown again.
  fakes.boxes.onShow = nullptr;
  form->ReportError("same fault");
  EXPECT_EQ(fakes.boxes.shown.size(), 3);
}

TEST_F(MainWindowTest, StatusTickShowsOneQueuedTextPerTick) {
  Start();
  form->Queue()->Append("first");
  form->Queue()->Append("second");
  form->StatusTimerTimer();
  EXPECT_EQ(StatusBarText(), "first");
  form->StatusTimerTimer();
  EXPECT_EQ(StatusBarText(), "second");
}

TEST_F(MainWindowTest, StatusOkOnlyWhenNothingIsQueuedTheStatusIsGreenAndNoFault) {
  Start();
  QLabel* panel = form->ui().SystemStatPanel;
  SetTextColor(panel, StatusGreen);
  Device.Status.UnitState = 3;
  form->StatusTimerTimer();
  EXPECT_EQ(StatusBarText(), kStatusOkText);

  form->ui().MainStatusBar->showMessage("last");
  Device.Status.UnitState = 80;  // a fault code keeps the last text
  form->StatusTimerTimer();
  EXPECT_EQ(StatusBarText(), "last");

  Device.Status.UnitState = 79;
  SetTextColor(panel, StatusOrange);  // a warning colour does too
  form->StatusTimerTimer();
  EXPECT_EQ(StatusBarText(), "last");
  SetTextColor(panel, StatusRed);
  form->StatusTimerTimer();
  EXPECT_EQ(StatusBarText(), "last");

  SetTextColor(panel, StatusGreen);
  form->Queue()->Append("queued");  // a waiting text goes first
  form->StatusTimerTimer();
  EXPECT_EQ(StatusBarText(), "queued");
  form->StatusTimerTimer();
  EXPECT_EQ(StatusBarText(), kStatusOkText);
}

TEST_F(MainWindowTest, F1OpensHelpAtThePageContext) {
  Start();
  QWidget* target = form->ui().PageControl1;
  const std::vector<int> expected = {100, 200, 300, 400};
  for (int page = 0; page < 4; ++page) {
    form->ui().PageControl1->setCurrentIndex(page);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
  }
  EXPECT_EQ(fakes.help.contexts, expected);

  // Other keys pass by untouched.
  QKeyEvent other(QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier);
  QApplication::sendEvent(target, &other);
  EXPECT_EQ(fakes.help.contexts.size(), 4u);
}

TEST_F(MainWindowTest, TrayMenuOffersOpenAboutExit) {
  Start();
  QStringList items;
  for (QAction* a : form->PopupMenu1()->actions())
    items << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(items, (QStringList{"Open", "-", "About", "-", "Exit"}));

  form->About1Click();
  EXPECT_EQ(fakes.boxes.shown, QStringList{kAboutText});

  form->TrayIcon1MouseDown(Qt::LeftButton, 10, 10);
  EXPECT_FALSE(form->PopupMenu1()->isVisible());
  form->TrayIcon1MouseDown(Qt::RightButton, 10, 10);
  EXPECT_TRUE(form->PopupMenu1()->isVisible());
  form->PopupMenu1()->hide();
}

TEST_F(MainWindowTest, ClosingBlanksBothDisplayLinesAndEndsTheProgram) {
  Start();
  fakes.link.requests.clear();
  QSignalSpy closed(form.get(), &TForm1::closed);
  form->show();
  form->Exit1Click();

  EXPECT_EQ(closed.count(), 1);
  const auto line1 = fakes.link.RequestsNumbered(0x06);
  const auto line2 = fakes.link.RequestsNumbered(0x07);
  ASSERT_EQ(line1.size(), 1u);
  ASSERT_EQ(line2.size(), 1u);
  for (const Bytes& r : {line1[0], line2[0]}) {
    ASSERT_EQ(r.size(), 28u);
    EXPECT_EQ(r[2], 0x02);
    for (int i = 3; i < 27; ++i) EXPECT_EQ(r[i], 0x20) << i;
    EXPECT_EQ(r[27], 0x04);
  }
  // Line 1 goes first.
  EXPECT_EQ(fakes.link.requests.front()[1], 0x06);
  for (QTimer* t : {&form->MaintainTimer, &form->UpdateDataTimer, &form->StatusTimer,
                    &form->DisplayIntervalTimer, &form->WriteChangesTimer})
    EXPECT_FALSE(t->isActive());
  EXPECT_EQ(fakes.link.closeCalls, 1);

  // The timers that may still be due do nothing once the program is ending.
  fakes.link.requests.clear();
  form->UpdateDataTimerTimer();
  form->StatusTimerTimer();
  EXPECT_TRUE(fakes.link.requests.empty());
}

}  // namespace
