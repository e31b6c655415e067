// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's spine: start-up order, the packet transaction, the
// status-bar tick, help, the tray menu and the close path, all against fakes.

#include "WindowFixture.h"
#include "app/Accessibility.h"
#include "app/DesktopServices.h"
#include "widgets/Palette.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTextBrowser>

#include <cmath>
#include <stdexcept>
#include <tuple>

namespace {

// A dark style's palette (light text on dark fields) while it lives.
struct DarkPalette {
  DarkPalette() {
    const QColor text(0xee, 0xee, 0xec), button(0x37, 0x37, 0x37), base(0x2d, 0x2d, 0x2d), window(0x35, 0x35, 0x35);
    QApplication::setPalette(QPalette(text, button, button.lighter(), base.darker(), base, text, text, base, window));
  }
  ~DarkPalette() { QApplication::setPalette(light); }
  QPalette light = QApplication::palette();
};

// The windows here are not shown unless a test needs it: they only take in
// readings then, so the fakes' all-zero status reply raises no alarm.
class MainWindowTest : public WindowFixture {
 protected:
  void AnswerWith(std::uint32_t result, Bytes bytes) {
    fakes.link.respond = [result, bytes](const Bytes&) { return FakeLink::Answer{result, bytes}; };
  }
  QString StatusBarText() { return ui().MainStatusBar->currentMessage(); }
};

TEST_F(MainWindowTest, StartUpReadsTheFourBlocksThenStartsTheSixTimers) {
  Start(false);
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
  for (const auto& [offset, rpm] : {std::pair{0, 2100}, {2, 1100}, {4, 1400}, {16, 1100}, {18, 1400}})
    EXPECT_EQ(fans[3 + offset] | (fans[4 + offset] << 8), rpm) << offset;
  EXPECT_TRUE(form->LinkStarted());
  EXPECT_TRUE(form->FormReady());
  EXPECT_FALSE(form->Terminating());

  const struct {
    QTimer* timer;
    int ms;
    bool running;
  } timers[] = {{&form->Watcher().UpdateDataTimer, 3000, true},   {&form->StatusTimer(), 1500, true},
                {&form->Settings().WriteChangesTimer, 4000, true}, {&form->Log().MaintainTimer, 30000, true},
                {&form->Log().HoursRunTimer, 3600000, true},  {&form->Panel().DisplayIntervalTimer, 5000, true},
                {&form->Alarm().ShutDownTimer, 180000, false},  {&form->Alarm().BlinkTimer, 300, false},
                {&form->HeatingCountDownTimer(), 60000, false}};
  for (const auto& t : timers) {
    EXPECT_EQ(t.timer->interval(), t.ms);
    EXPECT_EQ(t.timer->isActive(), t.running) << t.ms << " ms";
  }

  EXPECT_EQ(form->windowTitle(), kApplicationTitle);
  EXPECT_EQ(ui().PageControl1->currentIndex(), 0);
  EXPECT_EQ(TextColor(ui().SetupAlm), StatusOrange);
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();
}

TEST_F(MainWindowTest, AStartUpStepThatFailsStillLeavesTheUnitWatched) {
  struct FailingClock : FakeClock {
    void Pause(int) override { throw std::runtime_error("clock gone"); }
  } clock;
  Services services = fakes.services();
  services.clock = &clock;
  StartWith(services, false);
  EXPECT_EQ(fakes.boxes.reports, QStringList{"Error: clock gone"});
  EXPECT_TRUE(form->FormReady());
  for (QTimer* t : {&form->Watcher().UpdateDataTimer, &form->StatusTimer(), &form->Settings().WriteChangesTimer, &form->Log().MaintainTimer})
    EXPECT_TRUE(t->isActive()) << t->interval();
}

TEST_F(MainWindowTest, WithoutAUnitTheBoxSaysWhichIdsWereLookedForAndHowToFindTheUnits) {
  fakes.link.openResult = false;
  fakes.link.ids = UsbIdPair{0xabcd, 0x12ef};
  Start(false);
  EXPECT_EQ(fakes.boxes.shown, QStringList{kUsbFailedText});
  ASSERT_EQ(fakes.boxes.details.size(), 1);
  EXPECT_TRUE(fakes.boxes.details[0].contains(QStringLiteral("abcd:12ef")));
  EXPECT_TRUE(fakes.boxes.details[0].contains(QStringLiteral("--find-unit")));
  EXPECT_TRUE(form->Terminating());
}

TEST_F(MainWindowTest, WithoutAUnitOrALinkNothingIsEverSent) {
  fakes.link.openResult = false;
  Start(false);
  EXPECT_EQ(fakes.boxes.shown, QStringList{kUsbFailedText});
  EXPECT_TRUE(form->Terminating());
  EXPECT_FALSE(form->FormReady());
  EXPECT_TRUE(fakes.link.requests.empty());
  EXPECT_FALSE(form->Watcher().UpdateDataTimer.isActive());

  struct ThrowingLink : FakeLink {
    bool InstallDriverIfMissing() override { throw std::runtime_error("no rule"); }
  } link;
  Services s = fakes.services();
  s.link = &link;
  fakes.boxes.shown.clear();
  StartWith(s, false);
  EXPECT_EQ(fakes.boxes.shown, QStringList{"Error: no rule"});
  EXPECT_FALSE(form->LinkStarted());
  form->Watcher().UpdateDataTimerTimer();
  EXPECT_TRUE(link.requests.empty());
  EXPECT_TRUE(link.resets.empty());
  form.reset();  // before `link` goes
}

// The guard service keeps the unit while its shutdown is armed: the window
// comes up without it, says how long is left, asks again every poll
// interval, and starts on the unit once it is free; closed before that, it
// leaves the unit alone.
TEST_F(MainWindowTest, WhileTheUnitIsHeldElsewhereTheWindowWaitsAndSaysWhy) {
  AnswerAsTheUnit(true);
  QStringList answers{"The guard service is shutting the computer down in 150 s",
                      "The guard service is shutting the computer down in 147 s"};
  const auto wait = [&answers]() -> std::optional<QString> {
    if (answers.isEmpty()) return std::nullopt;
    return answers.takeFirst();
  };
  form = std::make_unique<TForm1>(fakes.services(), wait);
  form->show();
  EXPECT_TRUE(form->WaitingForUnit());
  EXPECT_EQ(fakes.link.openCalls, 0);
  EXPECT_TRUE(fakes.link.requests.empty());
  EXPECT_FALSE(form->Watcher().UpdateDataTimer.isActive());
  EXPECT_EQ(QueueTexts(), QStringList{"The guard service is shutting the computer down in 150 s"});
  form->UnitWaitTimerTimer();
  EXPECT_TRUE(QueueTexts().contains("The guard service is shutting the computer down in 147 s"));
  EXPECT_TRUE(fakes.link.requests.empty());

  form->UnitWaitTimerTimer();  // free now
  EXPECT_FALSE(form->WaitingForUnit());
  EXPECT_EQ(fakes.link.openCalls, 1);
  ASSERT_FALSE(fakes.link.requests.empty());
  EXPECT_EQ(fakes.link.requests.front(), (Bytes{0x01, 0x01, 0x04}));
  EXPECT_TRUE(form->Watcher().UpdateDataTimer.isActive());

  answers = {"The guard service is shutting the computer down in 90 s"};
  fakes.link.requests.clear();
  form = std::make_unique<TForm1>(fakes.services(), wait);
  form->close();
  EXPECT_TRUE(fakes.link.requests.empty()) << "the close path wrote to a unit the window never had";
}

TEST_F(MainWindowTest, BadReplyLengthsCountAsALostLinkAndResetBothPipes) {
  Start(false);
  for (std::uint32_t result : {0u, 27u, 29u, 0x20000015u}) {
    fakes.link.resets.clear();
    Drain();
    Bytes frame = MakeReplyFrame(0x01);
    frame.resize(result == 29u ? 29 : 28, 0);
    AnswerWith(result, frame);
    Poll();
    EXPECT_EQ(fakes.link.resets, (std::vector<std::uint8_t>{0x02, 0x81})) << result;
    EXPECT_EQ(Drain(), QStringList{kLinkLostText}) << result;
  }
}

TEST_F(MainWindowTest, AcceptedAndDroppedRepliesReportNothing) {
  // Shown, so that a reply taken for a status reply would queue its state's text.
  Start();
  Drain();
  fakes.link.resets.clear();
  const std::vector<Bytes> replies = {
      {0x01, 0x85, 0x04},    // 3-byte answer: accepted, wrong framing, dropped
      MakeReplyFrame(0x04),  // numbers without a decoder
      MakeReplyFrame(0x05),
      [] { Bytes b = MakeReplyFrame(0x01); b[2] = 0x04; return b; }(),
  };
  for (const Bytes& reply : replies) {
    AnswerWith(static_cast<std::uint32_t>(reply.size()), reply);
    Poll();
  }
  EXPECT_TRUE(fakes.link.resets.empty());
  EXPECT_TRUE(form->Queue()->IsEmpty());
  EXPECT_TRUE(fakes.boxes.shown.isEmpty());
}

TEST_F(MainWindowTest, AThreeByteReplyNeverReachesADecoder) {
  Start();
  // Every block holds a real reply first, so a decoder run over zeros shows.
  fakes.link.respond = [this](const Bytes& req) {
    packet::Payload filler;
    filler.fill(0x11);
    return FakeLink::Answer{28, MakeReplyFrame(req[1], req[1] == 0x01 ? StatusPayload(reading) : filler)};
  };
  for (std::uint8_t n : {0x01, 0x02, 0x03, 0x06, 0x07}) form->ExchangePacket(packet::MakeReadRequest(n));
  Drain();
  const DeviceBlocks before = Device;
  const QString hours = ui().OperHours->text();

  for (std::uint8_t n : {0x01, 0x02, 0x03, 0x06, 0x07}) {
    AnswerWith(3, Bytes{0x01, n, 0x02});
    form->ExchangePacket(packet::MakeReadRequest(n));
  }
  // Read as zeros, reply 01 would put the evaporator at the default shut-down limit of 0.
  EXPECT_EQ(SensorTable[1].Temperature.load(), -35);
  EXPECT_FALSE(form->Alarm().ShutDownTimer.isActive());
  EXPECT_FALSE(QFile::exists(fakes.logPath("Error.log")));
  const auto statusFields = [](const DeviceStatus& s) {
    return std::tuple{s.AuxWord, s.UnitState, s.FrontFanRpm, s.RearFanRpm, s.AuxByteA, s.AuxByteB,
                      s.AuxTenths, s.AuxByteC};
  };
  EXPECT_EQ(statusFields(Device.Status), statusFields(before.Status));
  EXPECT_EQ(Device.Settings.Bytes, before.Settings.Bytes);
  EXPECT_EQ(Device.FanBoot.Words, before.FanBoot.Words);
  EXPECT_EQ(Device.FanBoot.Bytes, before.FanBoot.Bytes);
  EXPECT_EQ(Device.Store67.Bytes, before.Store67.Bytes);
  EXPECT_EQ(ui().OperHours->text(), hours);
  EXPECT_TRUE(form->LinkUp());  // still a completed exchange
  EXPECT_TRUE(Drain().isEmpty());
  EXPECT_TRUE(fakes.boxes.shown.isEmpty());
}

TEST_F(MainWindowTest, AStatusReplyToASettingsWriteIsDecodedAsStatus) {
  Start();
  reading.tenths[0] = -412;
  AnswerWith(28, MakeReplyFrame(0x01, StatusPayload(reading)));
  form->ExchangePacket(packet::MakeWritePacket(0x02, packet::Payload{}));
  EXPECT_EQ(SensorTable[1].Temperature.load(), -41);
  EXPECT_EQ(ui().SystemStatPanel->text(), "Normal");
}

TEST_F(MainWindowTest, ExchangeFaultsAreShownAsErrors) {
  Start(false);
  fakes.link.requests.clear();
  packet::Request junk{};
  junk[0] = 0x7F;  // unknown framing: reported, and still sent with length four
  form->ExchangePacket(junk);
  EXPECT_EQ(fakes.boxes.shown, QStringList{"Error in size : 4"});
  ASSERT_EQ(fakes.link.requests.size(), 1u);
  EXPECT_EQ(fakes.link.requests[0].size(), 4u);

  fakes.link.respond = [](const Bytes&) -> FakeLink::Answer { throw std::runtime_error("pipe broke"); };
  Poll();
  EXPECT_EQ(fakes.boxes.shown, (QStringList{"Error in size : 4", "Error: pipe broke"}));
}

// The real boxes, not the fakes: a report that waited for its click would
// hang this test.
TEST(ErrorReports, OpenWithoutWaitingOneBoxPerTextWithItsRepeatsCounted) {
  QWidget owner;
  owner.show();
  QtMessageBoxes boxes;
  const auto reportBoxes = [&owner](const QString& text) {
    QList<QMessageBox*> found;
    for (QMessageBox* box : owner.findChildren<QMessageBox*>())
      if (box->isVisible() && box->text() == text) found << box;
    return found;
  };
  for (int i = 0; i < 3; ++i) boxes.ShowReport(&owner, "Error: disk full");
  boxes.ShowReport(&owner, "Error: other fault");
  ASSERT_EQ(reportBoxes("Error: disk full").size(), 1);
  ASSERT_EQ(reportBoxes("Error: other fault").size(), 1);
  QMessageBox* box = reportBoxes("Error: disk full").front();
  EXPECT_EQ(box->windowModality(), Qt::WindowModal);
  EXPECT_TRUE(box->informativeText().startsWith("Repeated 2 times since, the last at ")) << box->informativeText().toStdString();
  EXPECT_TRUE(reportBoxes("Error: other fault").front()->informativeText().isEmpty());

  // Dismissed, the same fault opens a box of its own again.
  box->button(QMessageBox::Ok)->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(reportBoxes("Error: disk full").isEmpty());
  boxes.ShowReport(&owner, "Error: disk full");
  ASSERT_EQ(reportBoxes("Error: disk full").size(), 1);
  EXPECT_TRUE(reportBoxes("Error: disk full").front()->informativeText().isEmpty());

  // A flood of distinct texts does not bury the window.
  for (int i = 0; i < 20; ++i) boxes.ShowReport(&owner, QStringLiteral("Error: fault %1").arg(i));
  EXPECT_EQ(boxes.ReportsOnScreen(), QtMessageBoxes::kMaxReportsOnScreen);
}

TEST_F(MainWindowTest, StatusTickShowsQueuedTextsFirstAndOkOnlyWhenAllIsWell) {
  Start(false);
  PanelColour& colour = form->Model().status.colour;
  colour = PanelColour::Green;
  Device.Status.UnitState = 3;
  form->StatusTimerTimer();
  EXPECT_EQ(StatusBarText(), kStatusOkText);

  // A fault code, or a warning or alarm colour, keeps the last text.
  ui().MainStatusBar->showMessage("last");
  Device.Status.UnitState = 80;
  form->StatusTimerTimer();
  EXPECT_EQ(StatusBarText(), "last");
  Device.Status.UnitState = 79;
  for (const PanelColour c : {PanelColour::Orange, PanelColour::Red}) {
    colour = c;
    form->StatusTimerTimer();
    EXPECT_EQ(StatusBarText(), "last");
  }

  colour = PanelColour::Green;
  form->Queue()->Append("first");
  form->Queue()->Append("second");
  for (const QString& expected : QStringList{"first", "second", kStatusOkText}) {
    form->StatusTimerTimer();
    EXPECT_EQ(StatusBarText(), expected);
  }
}

TEST_F(MainWindowTest, ATextTooLongForTheStatusBarKeepsItsEndAndIsWholeInTheTooltip) {
  Start();
  const QString notice = "History is not being saved: cannot write " + QString(300, 'x') + ": disk full";
  form->Queue()->Append(notice);
  form->StatusTimerTimer();
  const QString shown = StatusBarText();
  QStatusBar* bar = ui().MainStatusBar;
  EXPECT_LE(bar->fontMetrics().horizontalAdvance(shown), bar->width());
  EXPECT_TRUE(shown.startsWith("History is not being saved: ") && shown.endsWith(": disk full")) << shown.toStdString();
  EXPECT_EQ(bar->toolTip(), notice);
  form->Queue()->Append("short");
  form->StatusTimerTimer();
  EXPECT_EQ(StatusBarText(), "short");
  EXPECT_TRUE(bar->toolTip().isEmpty());
}

TEST_F(MainWindowTest, F1OpensHelpAtThePageContext) {
  Start(false);
  QWidget* target = ui().PageControl1;
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_F1, Qt::NoModifier);
  for (int page = 0; page < 5; ++page) {
    ui().PageControl1->setCurrentIndex(page);
    QApplication::sendEvent(target, &release);
  }
  QKeyEvent other(QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier);  // passes by untouched
  QApplication::sendEvent(target, &other);
  EXPECT_EQ(fakes.help.contexts, (std::vector<int>{100, 200, 300, 400, 600}));
  EXPECT_EQ(fakes.help.contentsCalls, 0);

  // With no page current, the contents.
  ui().PageControl1->clear();
  QApplication::sendEvent(target, &release);
  EXPECT_EQ(fakes.help.contexts.size(), 5u);
  EXPECT_EQ(fakes.help.contentsCalls, 1);
}

TEST_F(MainWindowTest, TrayMenuOffersOpenHistoryAboutExit) {
  Start(false);
  QStringList items;
  for (QAction* a : form->PopupMenu1()->actions()) items << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(items, (QStringList{"Open", "History", "-", "About", "-", "Exit"}));

  form->About1Click();
  EXPECT_EQ(fakes.boxes.shown, QStringList{kAboutText});

  form->TrayIcon1MouseDown(Qt::LeftButton, 10, 10);
  EXPECT_FALSE(form->PopupMenu1()->isVisible());
  form->TrayIcon1MouseDown(Qt::RightButton, 10, 10);
  EXPECT_TRUE(form->PopupMenu1()->isVisible());
  form->PopupMenu1()->hide();
}

// What a screen reader gets: readings with what they belong to, kept current;
// lists by their own names (Qt would read "Higher" ten times); no dormant page.
TEST_F(MainWindowTest, AScreenReaderHearsWhatEachPanelAndControlIsFor) {
  AnswerAsTheUnit(true);
  Start();
  auto heard = [](QObject* o, QAccessible::Text t = QAccessible::Name) {
    return QAccessible::queryAccessibleInterface(o)->text(t);
  };
  for (int tenths : {-330, -200}) {
    reading.tenths[0] = tenths;
    Poll();
    EXPECT_EQ(heard(ui().Temp1), QStringLiteral("Evaporator temperature %1°C, %2")
                                     .arg(tenths / 10).arg(ui().TempStat1->text()));
  }
  EXPECT_EQ(heard(ui().SystemStatPanel), "Status: " + ui().SystemStatPanel->text());
  EXPECT_EQ(heard(ui().Par2HighLow), "Sensor 2 higher or lower");
  EXPECT_EQ(heard(ui().Par2HighLow, QAccessible::Value), ui().Par2HighLow->currentText());
  EXPECT_EQ(heard(ui().DispParam1), "Parameter 1");

  QAccessibleInterface* tabs = QAccessible::queryAccessibleInterface(ui().PageControl1->findChild<QTabBar*>());
  ASSERT_EQ(tabs->childCount(), 5);
  EXPECT_FALSE(tabs->child(3)->state().invisible);
  EXPECT_TRUE(tabs->child(4)->state().invisible) << "the RTC page";

  ui().CPULoadGraph->DataPoint(Qt::green, 37);
  ui().CPULoadGraph->Update();
  const QString described = ui().CPULoadGraph->accessibleDescription();
  EXPECT_TRUE(described.contains("37")) << described.toStdString();

  // The menu's keys act from the window too, and no two are the same.
  QSet<QKeySequence> keys;
  for (QAction* a : form->PopupMenu1()->actions()) {
    if (a->isSeparator()) continue;
    keys.insert(a->shortcut());
    EXPECT_TRUE(form->actions().contains(a)) << a->text().toStdString();
  }
  EXPECT_EQ(keys.size(), 4);
  EXPECT_FALSE(keys.contains(QKeySequence()));
}

// Without a notification area the help window is the way to the About box.
TEST(HelpWindowTest, ItsAboutLinkAndKeyOpenTheAboutBox) {
  HelpWindow help(QStringLiteral("/nonexistent/Tessalinique.html"));
  int shown = 0;
  help.ShowAbout = [&shown] { ++shown; };
  help.ShowContents();
  QTextBrowser* browser = help.Browser();
  ASSERT_TRUE(browser);
  emit browser->anchorClicked(QUrl(QStringLiteral("about:")));
  emit browser->anchorClicked(QUrl(QStringLiteral("#100")));  // a page of its own, not the box
  EXPECT_EQ(shown, 1);
  for (QAction* a : browser->actions())
    if (a->shortcut() == kAboutKey) a->trigger();
  EXPECT_EQ(shown, 2);
}

// Fields follow the style: a white field under a dark style's light text hid
// sensor 2's name, and the fixed grey made the off rows light on light.
TEST_F(MainWindowTest, SensorRowsStayReadableAndOffRowsStandOutUnderADarkStyle) {
  for (bool darkStyle : {false, true}) {
    SCOPED_TRACE(darkStyle ? "dark" : "light");
    std::optional<DarkPalette> dark;
    if (darkStyle) dark.emplace();
    Start();
    SensorTable[5].Name = kSensorNotAvailable;
    form->RefreshSetupRows();
    QColor usableBase, offBase;
    for (int n = 1; n <= 5; ++n) {
      const TForm1::SensorControls row = form->Row(n);
      const bool first = n == 1;
      for (QWidget* w : std::initializer_list<QWidget*>{first ? static_cast<QWidget*>(ui().EvaporatorEdit) : row.name,
                                                        first ? static_cast<QWidget*>(ui().Sensor1Edit) : row.higherLower,
                                                        row.warning, row.shutdown}) {
        SCOPED_TRACE((w->objectName() + (w->isEnabled() ? " on" : " off")).toStdString());
        const auto group = w->isEnabled() ? QPalette::Active : QPalette::Disabled;
        const QColor base = w->palette().color(group, QPalette::Base);
        // A list that cannot be typed into is drawn as a button.
        const auto* list = qobject_cast<QComboBox*>(w);
        const bool button = list && !list->isEditable();
        const QColor text = w->palette().color(group, button ? QPalette::ButtonText : QPalette::Text);
        const QColor back = button ? w->palette().color(group, QPalette::Button) : base;
        EXPECT_GE(std::abs(text.lightnessF() - back.lightnessF()), 0.3) << qPrintable(text.name() + " on " + back.name());
        (w->isEnabled() ? usableBase : offBase) = base;
      }
    }
    // Rows 3 and 4 are "Optional": their names can be chosen; row 5 has no sensor.
    EXPECT_TRUE(ui().SetupSensorComboBox3->isEnabled());
    EXPECT_FALSE(ui().SetupSensorComboBox5->isEnabled());
    EXPECT_EQ(usableBase, QApplication::palette().color(QPalette::Base));
    EXPECT_EQ(offBase, QApplication::palette().color(QPalette::Window));
    EXPECT_NE(usableBase, offBase);
  }
}

// Under a style with larger metrics fixed widths cut captions ("Lowe").
TEST_F(MainWindowTest, NoCaptionIsCutOnAnyPageInALightOrALargeDarkStyle) {
  const QFont normal = QApplication::font();
  for (bool large : {false, true}) {
    SCOPED_TRACE(large ? "large dark" : "light");
    std::optional<DarkPalette> dark;
    QFont font = normal;
    if (large) {
      dark.emplace();
      font.setPointSizeF(normal.pointSizeF() * 1.3);
    }
    QApplication::setFont(font);
    Start();
    AnswerAsTheUnit(true);
    Poll();
    QTabWidget* pages = ui().PageControl1;
    for (int page = 0; page < pages->count(); ++page) {
      if (!pages->isTabVisible(page)) continue;
      pages->setCurrentIndex(page);
      QApplication::processEvents();
      for (QWidget* w : pages->widget(page)->findChildren<QWidget*>()) {
        if (!w->isVisible()) continue;
        int needed = 0;
        QString caption;
        if (auto* label = qobject_cast<QLabel*>(w)) {
          caption = label->text();
          needed = label->wordWrap() ? 0 : label->minimumSizeHint().width();
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
          caption = button->text();
          needed = button->sizeHint().width();
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
          caption = group->title();
          needed = group->minimumSizeHint().width();
        } else if (auto* box = qobject_cast<QComboBox*>(w); box && !box->isEditable()) {
          caption = box->currentText();
          needed = box->minimumSizeHint().width();
        }
        if (caption.isEmpty()) continue;
        EXPECT_GE(w->width(), needed) << pages->tabText(page).toStdString() << ": "
                                      << w->objectName().toStdString() << " \"" << caption.toStdString() << '"';
      }
    }
    form.reset();
  }
  QApplication::setFont(normal);
}

TEST_F(MainWindowTest, TheViewButtonsSayWhyALogCannotBeShown) {
  struct NoViewer : IProcessLauncher {
    bool StartDetached(const QString&, const QStringList&) override { return false; }
  } noViewer;
  Services services = fakes.services();
  services.launcher = &noViewer;
  StartWith(services, false);
  Drain();
  ui().ErrorViewButton->click();
  EXPECT_EQ(Drain(), QStringList{"Error.log does not exist yet"});
  ASSERT_TRUE(QFile::exists(fakes.logPath("Operatation.log")));  // the start's record
  ui().ViewLogButton->click();
  EXPECT_EQ(Drain(), QStringList{"No program to show Operatation.log"});

  Start(false);
  Drain();
  ui().ViewLogButton->click();
  EXPECT_TRUE(Drain().isEmpty());
  EXPECT_EQ(fakes.launcher.started.size(), 1u);
}

// The window comes back where it was left, unless no screen shows that place
// any more; the place is not a setting.
TEST_F(MainWindowTest, TheWindowComesBackWhereItWasLeftOrOnTheScreensMiddle) {
  Start();
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const QPoint left = screen.topLeft() + QPoint(23, 31);
  form->move(left);
  QFile settings(fakes.settingsPath());
  const QByteArray settingsBefore = settings.open(QIODevice::ReadOnly) ? settings.readAll() : "";
  settings.close();
  form->close();
  EXPECT_EQ(settings.open(QIODevice::ReadOnly) ? settings.readAll() : "", settingsBefore);
  Start();
  EXPECT_EQ(form->pos(), left);

  form.reset();
  QSettings(fakes.logPath("window.ini"), QSettings::IniFormat).setValue("position", QPoint(-9000, 9000));
  Start();
  EXPECT_LE((form->geometry().center() - screen.center()).manhattanLength(), 2) << form->pos().x();
}

TEST_F(MainWindowTest, ClosingBlanksBothDisplayLinesAndEndsTheProgram) {
  Start(false);
  fakes.link.requests.clear();
  form->show();
  QSignalSpy closed(form.get(), &TForm1::closed);
  form->Exit1Click();

  EXPECT_EQ(closed.count(), 1);
  Bytes blank(28, 0x20);  // SOH, the line's number, STX, 24 spaces, EOT
  blank[0] = 0x01;
  blank[2] = 0x02;
  blank[27] = 0x04;
  for (std::uint8_t line : {0x06, 0x07}) {
    blank[1] = line;
    const auto sent = fakes.link.RequestsNumbered(line);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], blank) << int(line);
  }
  EXPECT_EQ(fakes.link.requests.front()[1], 0x06);  // line 1 goes first
  for (QTimer* t : {&form->Log().MaintainTimer, &form->Watcher().UpdateDataTimer, &form->StatusTimer(),
                    &form->Panel().DisplayIntervalTimer, &form->Settings().WriteChangesTimer})
    EXPECT_FALSE(t->isActive());
  EXPECT_EQ(fakes.link.closeCalls, 1);

  // The timers that may still be due do nothing once the program is ending.
  fakes.link.requests.clear();
  form->Watcher().UpdateDataTimerTimer();
  form->StatusTimerTimer();
  EXPECT_TRUE(fakes.link.requests.empty());
}

}  // namespace
