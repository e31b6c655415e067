// SPDX-License-Identifier: GPL-3.0-or-later
// The history and the lost link as the user meets them: the program polls the
// simulated unit with a stepped clock, and the history window is read back
// through its chart series, not its pixels.

#include "app/Features.h"
#include "app/HistoryFeature.h"
#include "app/HistoryWindow.h"
#include "app/LinkLostView.h"
#include "host/CPUThread.h"
#include "host/TrayHint.h"
#include "monitor/Conversions.h"
#include "widgets/Palette.h"
#include "widgets/TTrayIcon.h"

#include "../app/WindowFixture.h"
#include "SimUnitLink.h"
#include "SimulatedUnit.h"

#include <QAbstractAxis>
#include <QAction>
#include <QChart>
#include <QDateTimeAxis>
#include <QFile>
#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QLabel>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QValueAxis>

#include <set>

namespace {

class HistoryWindowTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    for (const char* suffix : {"", "-wal", "-shm"}) QFile::remove(DefaultHistoryPath() + QLatin1String(suffix));
    unit.Advance(400);
    unit.SetSensor(1, -35.0);
    Services s = fakes.services();
    s.link = &link;
    StartWith(s);
    features = std::make_unique<Features>(*form, CommandLine{});
  }
  void TearDown() override {
    features.reset();
    WindowFixture::TearDown();
  }
  HistoryFeature& History() { return *features->History(); }
  HistoryWindow* Window() { return History().Window(); }
  void PollAfter(int seconds) {
    unit.Advance(seconds);
    fakes.clock.now = fakes.clock.now.addSecs(seconds);
    form->Watcher().UpdateDataTimerTimer();
  }
  static std::vector<double> Ys(const QLineSeries* series) {
    std::vector<double> ys;
    for (const QPointF& p : series->points()) ys.push_back(p.y());
    return ys;
  }
  static void CloseWindow(HistoryWindow* window) {
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  unitsim::SimulatedUnit unit{42};
  unitsim::SimUnitLink link{unit};
  std::unique_ptr<Features> features;
};

TEST_F(HistoryWindowTest, OpensFromTheTrayMenuAndFromADoubleClickOnTheTemperatures) {
  EXPECT_EQ(Window(), nullptr);  // nothing exists, nothing redraws, while closed
  QAction* item = form->PopupMenu1()->findChild<QAction*>(QStringLiteral("History1"));
  ASSERT_NE(item, nullptr);
  item->trigger();
  ASSERT_NE(Window(), nullptr);
  EXPECT_TRUE(Window()->isVisible());
  CloseWindow(Window());
  EXPECT_EQ(Window(), nullptr);

  QTest::mouseDClick(ui().TempGroupBox, Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_NE(Window(), nullptr);
  EXPECT_TRUE(Window()->isVisible());
}

TEST_F(HistoryWindowTest, SpansAndTheDisplayUnitGiveTheAxesAndValuesOfTheSeries) {
  for (int i = 0; i < 20; ++i) PollAfter(3);
  const SensorSample evaporator = form->LastSample().sensor(1);
  ASSERT_EQ(evaporator.celsius, -35);
  History().OpenWindow();
  HistoryWindow& w = *Window();
  const qint64 now = fakes.clock.now.toMSecsSinceEpoch();

  for (int span = 0; span < 4; ++span) {
    SCOPED_TRACE(span);
    w.SetSpan(span);
    auto* time = qobject_cast<QDateTimeAxis*>(w.TemperatureChart()->axes(Qt::Horizontal).first());
    auto* fanTime = qobject_cast<QDateTimeAxis*>(w.FanChart()->axes(Qt::Horizontal).first());
    EXPECT_EQ(time->min().toMSecsSinceEpoch(), now - HistoryWindow::kSpanMs[span]);
    EXPECT_EQ(time->max().toMSecsSinceEpoch(), now);
    EXPECT_EQ(fanTime->min(), time->min());
    EXPECT_EQ(fanTime->max(), time->max());
    // The reply the window was made with, and the twenty polls.
    EXPECT_EQ(Ys(w.Line("Evaporator")), std::vector<double>(21, -35));
    EXPECT_EQ(w.Line("Front fan")->points().size(), 21);
    EXPECT_EQ(w.Line("Front fan")->points().last().y(), unit.FanRpm(1));
  }

  struct Unit {
    QRadioButton* button;
    QString title;
    int (*shown)(int);
  };
  const Unit units[] = {{ui().FahrenheitRadioButton, QStringLiteral("\u00B0F"), &CelsiusToFahrenheit},
                        {ui().CelsiusRadioButton, QStringLiteral("\u00B0C"), [](int c) { return c; }}};
  for (const Unit& u : units) {
    SCOPED_TRACE(u.title.toStdString());
    u.button->click();
    auto* values = qobject_cast<QValueAxis*>(w.TemperatureChart()->axes(Qt::Vertical).first());
    EXPECT_EQ(values->titleText(), u.title);
    EXPECT_EQ(Ys(w.Line("Evaporator")), std::vector<double>(21, u.shown(-35)));
    EXPECT_EQ(Ys(w.Line("Evaporator warning limit")), std::vector<double>(2, u.shown(evaporator.warningCelsius)));
    EXPECT_EQ(Ys(w.Line("Evaporator shut-down limit")), std::vector<double>(2, u.shown(evaporator.shutdownCelsius)));
    EXPECT_LE(values->min(), u.shown(-35));
    EXPECT_GE(values->max(), u.shown(evaporator.shutdownCelsius));
  }

  // Once per poll while open, and what the poll brought is in it.
  const int before = w.RebuildCount();
  unit.SetSensor(1, -30.0);
  PollAfter(3);
  EXPECT_EQ(w.RebuildCount(), before + 1);
  EXPECT_EQ(w.Line("Evaporator")->points().last().y(), -30);
  EXPECT_TRUE(w.HoverText(now + 3000).contains(QStringLiteral("Evaporator -30\u00B0C")));
}

TEST_F(HistoryWindowTest, TheFirstReplyIsStoredAndTheFileGivenUpAndTakenUpAgainIsSaid) {
  const qint64 started = form->LastReplyTime().toMSecsSinceEpoch();  // no poll yet
  const std::vector<HistoryPoint> first = History().Store().Read(0, fakes.clock.now.toMSecsSinceEpoch() + 1);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].ms, started);
  EXPECT_EQ(first[0].celsius[0], -35);

  features.reset();
  QFile damaged(DefaultHistoryPath());
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
  damaged.write(QByteArray(4096, 'x'));
  damaged.close();
  Drain();
  features = std::make_unique<Features>(*form, CommandLine{});
  // The reply already in hand starts the fresh file at once.
  const QStringList said = Drain();
  ASSERT_EQ(said.size(), 2);
  EXPECT_TRUE(said[0].startsWith(kHistoryNotSavedText.arg(QStringLiteral("history.sqlite is damaged"))));
  EXPECT_EQ(said[1], kHistorySavedAgainText);
  PollAfter(3);
  EXPECT_EQ(History().Store().Read(0, fakes.clock.now.toMSecsSinceEpoch() + 1).size(), 2u);
}

TEST_F(HistoryWindowTest, CsvExportHoldsTheShownSpanAsTheStoreHasIt) {
  for (int i = 0; i < 30; ++i) {
    unit.SetSensor(1, -40.0 + i);
    PollAfter(i == 10 ? 700 : 3);  // the first ten fall out of a 10-minute span
  }
  History().OpenWindow();
  HistoryWindow& w = *Window();
  const QString path = fakes.logPath(QStringLiteral("shown.csv"));
  w.askExportPath = [&] { return path; };
  w.findChild<QPushButton*>(QStringLiteral("ExportCsvButton"))->click();

  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
  QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_EQ(lines.takeFirst(),
            QStringLiteral("Time,Evaporator (\u00B0C),Front fan (RPM),Rear fan (RPM),CPU load (%),Unit state"));
  const qint64 now = fakes.clock.now.toMSecsSinceEpoch();
  const std::vector<HistoryPoint> stored =
      History().Store().Read(now - HistoryWindow::kSpanMs[0], now + 1);
  ASSERT_EQ(stored.size(), 20u);
  ASSERT_EQ(lines.size(), 20);
  for (int i = 0; i < 20; ++i) {
    const QStringList f = lines[i].split(QLatin1Char(','));
    ASSERT_EQ(f.size(), 6);
    const QDateTime t = QDateTime::fromString(f[0], Qt::ISODate);
    EXPECT_EQ(t.toMSecsSinceEpoch(), stored[i].ms);
    EXPECT_EQ(t.offsetFromUtc(), fakes.clock.now.offsetFromUtc());
    EXPECT_TRUE(f[0].contains(QRegularExpression(QStringLiteral("[+-]\\d\\d:\\d\\d$")))) << f[0].toStdString();
    EXPECT_EQ(f[1].toInt(), stored[i].celsius[0]);
    EXPECT_EQ(f[1].toInt(), -30 + i);
    EXPECT_EQ(f[2].toInt(), stored[i].frontRpm);
    EXPECT_EQ(f[4].toInt(), stored[i].cpuLoad);
    EXPECT_EQ(f[5].toInt(), stored[i].state);
  }
}

TEST_F(HistoryWindowTest, AnUnpluggedUnitGreysTheReadingsAndTheHintUntilItsFirstReply) {
  PollAfter(3);
  const QDateTime lastReply = form->LastReplyTime();
  History().OpenWindow();
  form->CpuSampler()->UpdateTrayHint();
  const QString hintBefore = form->TrayIcon1()->Hint();
  ASSERT_EQ(hintBefore, QStringLiteral("Evaporator Temp: -35"));
  QLabel* panels[] = {ui().Temp1, ui().TempStat1, ui().SystemStatPanel, ui().FanRPM1, ui().Fan2StatusLabel};

  EXPECT_TRUE(ui().LinkLostLabel->isHidden());
  const int height = form->height();
  unit.Unplug();
  PollAfter(3);
  for (QLabel* panel : panels) {
    EXPECT_FALSE(panel->isEnabled()) << panel->objectName().toStdString();
    EXPECT_EQ(panel->toolTip(), kNoReplyTip.arg(LinkLostView::TimeText(lastReply)));
  }
  // Said where the user looks, not only in a tooltip; the status the alarm
  // logic reads is the last reply's, and the window keeps its size.
  EXPECT_TRUE(ui().LinkLostLabel->isVisible());
  EXPECT_EQ(ui().LinkLostLabel->text(), kNoReplyTip.arg(LinkLostView::TimeText(lastReply)));
  EXPECT_EQ(ui().SystemStatPanel->text(), "Normal");
  EXPECT_EQ(form->height(), height);
  EXPECT_EQ(form->TrayIcon1()->Hint(), kLinkLostText);
  // The sampler's own refresh keeps it so.
  form->CpuSampler()->UpdateTrayHint();
  EXPECT_EQ(form->TrayIcon1()->Hint(), kLinkLostText);
  // No sample comes to redraw the window: it does so at the polls' pace.
  auto* pace = Window()->findChild<QTimer*>(QStringLiteral("LostLinkTimer"));
  ASSERT_TRUE(pace && pace->isActive());
  PollAfter(3);
  Window()->Rebuild();
  bool shaded = false;
  for (QAbstractSeries* s : Window()->TemperatureChart()->series()) shaded |= s->name() == "Link lost";
  EXPECT_TRUE(shaded);

  unit.Plug();
  PollAfter(3);
  for (QLabel* panel : panels) {
    EXPECT_TRUE(panel->isEnabled()) << panel->objectName().toStdString();
    EXPECT_TRUE(panel->toolTip().isEmpty());
  }
  EXPECT_TRUE(ui().LinkLostLabel->isHidden());
  EXPECT_EQ(form->TrayIcon1()->Hint(), hintBefore);
  EXPECT_FALSE(pace->isActive());
  const qint64 now = fakes.clock.now.toMSecsSinceEpoch();
  EXPECT_EQ(LostLinkSpans(History().Store().LinkEvents(0, now), 0, now),
            (std::vector<TimeSpan>{{lastReply.toMSecsSinceEpoch() + 3000, now}}));
}

TEST_F(HistoryWindowTest, UnpluggedWhileArmedTheStatusStillBlinksAndTheHintIsTheAlarm) {
  unit.ForceState(80);  // POWER FAILURE: red
  PollAfter(3);
  ASSERT_TRUE(form->Alarm().ShutDownTimer.isActive());
  unit.Unplug();
  PollAfter(3);
  ASSERT_FALSE(form->LinkUp());
  EXPECT_TRUE(ui().SystemStatPanel->isEnabled());
  EXPECT_TRUE(ui().Temp1->isVisible() && !ui().Temp1->isEnabled());
  EXPECT_TRUE(ui().LinkLostLabel->isVisible());
  form->Alarm().BlinkTimerTimer();
  const QColor first = TextColor(ui().SystemStatPanel);
  form->Alarm().BlinkTimerTimer();
  EXPECT_EQ((std::set<QRgb>{first.rgb(), TextColor(ui().SystemStatPanel).rgb()}),
            (std::set<QRgb>{StatusRed.rgb(), BlinkSilver.rgb()}));
  form->CpuSampler()->UpdateTrayHint();
  EXPECT_EQ(form->TrayIcon1()->Hint(), ui().SystemStatPanel->text());
  EXPECT_NE(form->TrayIcon1()->Hint(), kLinkLostText);
}

// Run a second time with the scale at 2 on a 1280x800 screen (see
// CMakeLists.txt): the same sizes, wherever they fit.
TEST_F(HistoryWindowTest, PlotAreasLimitLinesAndLegendsFollowTheWindowAtAnySize) {
  for (int i = 0; i < 5; ++i) PollAfter(3);
  History().OpenWindow();
  HistoryWindow& w = *Window();
  const auto settle = [] {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  };
  settle();
  const QRect available = w.screen()->availableGeometry();
  EXPECT_EQ(w.devicePixelRatio(), qEnvironmentVariableIntValue("QT_SCALE_FACTOR") == 2 ? 2 : 1);
  EXPECT_TRUE(available.contains(QRect(available.topLeft(), w.size())));
  EXPECT_LE(w.minimumSizeHint().height(), available.height() - 48);
  const HistorySensor evaporator = History().Store().Sensors()[0];

  QSize lastSize;
  QSizeF lastPlot;
  for (QSize size : {QSize(640, available.height() - 48), QSize(640, 480), w.size(), QSize(1920, 1080)}) {
    size = size.boundedTo(available.size());
    SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
    w.resize(size);
    settle();
    ASSERT_EQ(w.size(), size);
    const QRectF temp = w.PlotAreaInWindow(w.TemperatureChart());
    const QRectF fans = w.PlotAreaInWindow(w.FanChart());
    EXPECT_TRUE(QRectF(w.rect()).contains(temp) && QRectF(w.rect()).contains(fans));
    // One time axis for both: the plot areas start and end together.
    EXPECT_NEAR(temp.left(), fans.left(), 1.5);
    EXPECT_NEAR(temp.right(), fans.right(), 1.5);
    EXPECT_GT(temp.height(), 40);
    EXPECT_GT(fans.height(), 25);
    EXPECT_GT(temp.width(), size.width() * 0.6);
    // (A small step may show an axis title that did not fit before.)
    if (lastSize.isValid() && size.width() > lastSize.width() + 100) {
      EXPECT_GT(temp.width(), lastPlot.width());
    }
    if (lastSize.isValid() && size.height() > lastSize.height() + 100) {
      EXPECT_GT(temp.height(), lastPlot.height());
    }
    lastSize = size;
    lastPlot = temp.size();
    // Each key below its chart's time labels, clear of the chart that follows.
    const int labels = QFontMetrics(w.TemperatureChart()->axes(Qt::Horizontal).first()->labelsFont()).height();
    const QRect tempKey = w.TemperatureLegend()->geometry();
    const QRect fanKey = w.FanLegend()->geometry();
    EXPECT_GE(tempKey.top(), temp.bottom() + labels);
    EXPECT_LE(tempKey.bottom(), fans.top());
    EXPECT_GE(fanKey.top(), fans.bottom() + labels);
    EXPECT_LE(fanKey.bottom(), w.height());
    EXPECT_GE(tempKey.height(), w.TemperatureLegend()->heightForWidth(tempKey.width()));
    // No more value labels than fit one above the other (the charts shorten
    // the others to "...").
    for (QChart* chart : {w.TemperatureChart(), w.FanChart()}) {
      for (QAbstractAxis* a : chart->axes(Qt::Vertical)) {
        auto* axis = qobject_cast<QValueAxis*>(a);
        const double first = std::ceil((axis->min() - axis->tickAnchor()) / axis->tickInterval());
        const double last = std::floor((axis->max() - axis->tickAnchor()) / axis->tickInterval());
        EXPECT_LE((last - first + 1) * QFontMetrics(axis->labelsFont()).height(), chart->plotArea().height())
            << axis->titleText().toStdString();
      }
    }

    // The limit lines as drawn: a flat item across the plot area at each
    // limit's height.
    QChart* chart = w.TemperatureChart();
    const QRectF plot = chart->plotArea();
    std::vector<double> flat;
    for (QGraphicsItem* item : chart->scene()->items()) {
      const QRectF r = chart->mapFromScene(item->sceneBoundingRect()).boundingRect();
      if (r.height() < 4 && r.width() > plot.width() * 0.98 && item->type() == QGraphicsItem::UserType)
        flat.push_back(r.center().y());
    }
    for (int limit : {evaporator.warningCelsius, evaporator.shutdownCelsius}) {
      const double y = chart->mapToPosition(QPointF(0, limit)).y();
      EXPECT_GT(y, plot.top());
      EXPECT_LT(y, plot.bottom());
      EXPECT_TRUE(std::any_of(flat.begin(), flat.end(), [y](double f) { return std::abs(f - y) < 1.5; }))
          << limit << " at " << y;
    }
  }
}

TEST_F(HistoryWindowTest, AnArmedShutdownEachLimitAndTheLoadScaleAreToldApart) {
  PollAfter(3);
  unit.ForceState(80);  // POWER FAILURE arms the shutdown
  for (int i = 0; i < 3; ++i) PollAfter(3);
  ASSERT_TRUE(form->Alarm().ShutDownTimer.isActive());
  History().OpenWindow();
  HistoryWindow& w = *Window();
  const auto series = [&](QChart* chart) {
    std::set<QString> names;
    for (QAbstractSeries* s : chart->series()) names.insert(s->name());
    return names;
  };
  EXPECT_TRUE(series(w.TemperatureChart()).count("Shutdown armed"));
  EXPECT_TRUE(series(w.FanChart()).count("Shutdown armed"));
  EXPECT_FALSE(series(w.TemperatureChart()).count("Warning"));
  EXPECT_TRUE(w.HoverText(fakes.clock.now.toMSecsSinceEpoch()).contains(QStringLiteral("Shutdown armed")));

  // The key shows each limit with the limit line's own pen, and the armed
  // shutdown with a fill of its own.
  const std::vector<HistoryLegend::Entry>& key = w.TemperatureLegend()->Entries();
  ASSERT_GE(key.size(), 3u);
  EXPECT_EQ(key[0].text, QStringLiteral("Evaporator"));
  EXPECT_EQ(key[1].line, w.Line("Evaporator warning limit")->pen());
  EXPECT_EQ(key[2].line, w.Line("Evaporator shut-down limit")->pen());
  EXPECT_NE(key[1].line.style(), key[2].line.style());
  EXPECT_NE(key[1].line.style(), key[0].line.style());
  const auto armed = std::find_if(key.begin(), key.end(), [](const auto& e) { return e.text == "Shutdown armed"; });
  ASSERT_NE(armed, key.end());
  EXPECT_EQ(armed->line.style(), Qt::NoPen);
  EXPECT_NE(armed->area.style(), Qt::NoBrush);

  // CPU load in quarters, full load clear of the plot area's edge, and on the
  // RPM axis's grid lines.
  auto* load = qobject_cast<QValueAxis*>(w.FanChart()->axes(Qt::Vertical, w.Line("CPU load")).first());
  auto* rpm = qobject_cast<QValueAxis*>(w.FanChart()->axes(Qt::Vertical, w.Line("Front fan")).first());
  w.resize(800, 600);
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(load->tickInterval(), 25);
  EXPECT_EQ(load->tickAnchor(), 0);
  EXPECT_LT(load->min(), 0);
  EXPECT_GT(load->max(), 100);
  EXPECT_LT(load->max(), 110);
  const QRectF plot = w.FanChart()->plotArea();
  for (int k = 0; k <= 4; ++k) {
    const double y = w.FanChart()->mapToPosition(QPointF(0, 25 * k), w.Line("CPU load")).y();
    EXPECT_NEAR(y, w.FanChart()->mapToPosition(QPointF(0, rpm->tickInterval() * k), w.Line("Front fan")).y(), 0.5);
    EXPECT_GT(y, plot.top() + 1);
    EXPECT_LT(y, plot.bottom() - 1);
  }
}

}  // namespace
