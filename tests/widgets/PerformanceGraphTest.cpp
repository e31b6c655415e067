// SPDX-License-Identifier: GPL-3.0-or-later
// The load graph: where its lines, bars and grid go, how the scale follows the
// data, and what survives a change of size. Coordinates are checked on a
// recording picture, the scrolling grid on the real one.

#include "widgets/TPerformanceGraph.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <set>
#include <stdexcept>

namespace {

const QColor kLime(0, 255, 0);
const QColor kGreen(0, 128, 0);

class RecordingPicture : public IGraphPicture {
 public:
  struct DrawnLine {
    QPoint from, to;
    QColor colour;
  };
  struct DrawnFill {
    QRect rect;
    QColor colour;
  };
  std::vector<DrawnLine> lines;
  std::vector<DrawnFill> fills;
  int resets = 0, copies = 0;

  void Reset(QSize, QColor) override {
    ++resets;
    lines.clear();
    fills.clear();
  }
  void Fill(const QRect& rect, QColor colour) override { fills.push_back({rect, colour}); }
  void Line(QPoint from, QPoint to, QColor colour) override { lines.push_back({from, to, colour}); }
  void Copy(const QRect&, const QRect&) override { ++copies; }

  std::vector<DrawnLine> LinesIn(QColor colour) const {
    std::vector<DrawnLine> out;
    for (const DrawnLine& l : lines)
      if (l.colour == colour) out.push_back(l);
    return out;
  }
  void Forget() {
    lines.clear();
    fills.clear();
  }
};

// CPULoadGraph as the window has it: 95 x 28, grid every 7 pixels.
class GraphModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model.OnScaleChange = [this] { ++scaleChanges; };
    model.SetGridSize(7);
    model.SetGradient(100);
    model.Fit(QSize(95, 28));
    picture.Forget();
  }
  void Sample(int value) {
    model.DataPoint(kLime, value);
    model.Update();
  }

  RecordingPicture picture;
  TPerformanceGraphModel model{picture};
  int scaleChanges = 0;
};

// The window's graph drawn on a real picture.
struct RealGraph {
  RealGraph() {
    graph.SetGridSize(7);
    graph.SetGradient(100);
    graph.Fit(QSize(95, 28));
  }
  void Sample(int value) {
    graph.DataPoint(kLime, value);
    graph.Update();
  }
  ImageGraphPicture picture;
  TPerformanceGraphModel graph{picture};
};

TEST(GraphRoundUp, RoundsUpToTheGradient) {
  EXPECT_EQ(RoundUp(37, 100), 100);
  EXPECT_EQ(RoundUp(100, 100), 100);
  EXPECT_EQ(RoundUp(101, 100), 200);
  EXPECT_EQ(RoundUp(0, 100), 0);
  EXPECT_EQ(RoundUp(37, 0), 37);
}

TEST_F(GraphModelTest, EachSampleDrawsOnlyTheNewStripAtTheRightEdge) {
  EXPECT_EQ(model.Bands().size(), 33u);  // 95 div 3 + 2
  EXPECT_EQ(model.Scale(), 1000);
  Sample(37);
  EXPECT_EQ(model.Scale(), 100);
  EXPECT_EQ(scaleChanges, 1);
  EXPECT_GE(picture.resets, 1);  // redrawn whole at the new scale
  auto lime = picture.LinesIn(kLime);
  ASSERT_EQ(lime.size(), 1u);
  // From 0 at the left of the rightmost strip to 37 % of 28 (10 pixels) at its right.
  EXPECT_EQ(lime[0].from, QPoint(92, 28));
  EXPECT_EQ(lime[0].to, QPoint(95, 18));

  // The next one starts from the previous value, without a full redraw.
  picture.Forget();
  const int resets = picture.resets;
  Sample(50);
  EXPECT_EQ(picture.resets, resets);
  EXPECT_EQ(picture.copies, 2);  // scrolled by one band each time
  lime = picture.LinesIn(kLime);
  ASSERT_EQ(lime.size(), 1u);
  EXPECT_EQ(lime[0].from, QPoint(92, 18));
  EXPECT_EQ(lime[0].to, QPoint(95, 14));
}

TEST_F(GraphModelTest, ZerosDrawNothingUntilAValueLiftsTheScale) {
  for (int i = 0; i < 3; ++i) Sample(0);
  EXPECT_EQ(model.Scale(), 0);
  EXPECT_TRUE(picture.LinesIn(kLime).empty());
  Sample(5);
  EXPECT_EQ(model.Scale(), 100);
  const auto lime = picture.LinesIn(kLime);
  ASSERT_EQ(lime.size(), 1u);
  EXPECT_EQ(lime[0].to, QPoint(95, 27));  // 5 % of 28 is one pixel
}

TEST_F(GraphModelTest, AValueAboveTheScaleLiftsItToTheNextMultiple) {
  Sample(37);
  Sample(150);
  EXPECT_EQ(model.Scale(), 200);
  EXPECT_EQ(scaleChanges, 2);
  // The whole history is redrawn at the new scale: 37 then 150.
  const auto lime = picture.LinesIn(kLime);
  ASSERT_EQ(lime.size(), 2u);
  EXPECT_EQ(lime[0].from, QPoint(89, 28));
  EXPECT_EQ(lime[0].to, QPoint(92, 28 - 5));
  EXPECT_EQ(lime[1].from, QPoint(92, 28 - 5));
  EXPECT_EQ(lime[1].to, QPoint(95, 28 - 21));
}

TEST(GraphGrid, ScrollsThreePixelsPerSampleWithALineEverySeven) {
  RealGraph real;
  auto isGrid = [&](int x, int y) { return QColor(real.picture.Image().pixel(x, y)) == kGreen; };
  auto verticalLines = [&] {
    std::set<int> xs;
    for (int x = 0; x < 95; ++x)
      if (isGrid(x, 3)) xs.insert(x);
    return xs;
  };
  auto horizontalRows = [&] {
    std::set<int> ys;
    for (int y = 0; y < 28; ++y) {
      bool across = true;
      for (int x = 0; x < 95; ++x) across = across && isGrid(x, y);
      if (across) ys.insert(y);
    }
    return ys;
  };
  EXPECT_EQ(horizontalRows(), (std::set<int>{7, 14, 21}));
  std::set<int> before = verticalLines();
  ASSERT_FALSE(before.empty());
  for (int step = 0; step < 10; ++step) {
    SCOPED_TRACE(step);
    real.Sample(0);
    const std::set<int> after = verticalLines();
    // Every line moved 3 left (those that fell off the left edge are gone) ...
    for (int x : before) {
      if (x >= 3) {
        EXPECT_TRUE(after.count(x - 3)) << "x " << x;
      }
    }
    // ... and they stay 7 apart right up to the edge.
    for (auto it = after.begin(); std::next(it) != after.end(); ++it) EXPECT_EQ(*std::next(it) - *it, 7);
    EXPECT_GT(*after.rbegin(), 94 - 7);
    EXPECT_EQ(horizontalRows(), (std::set<int>{7, 14, 21}));
    before = after;
  }
}

// A full redraw starts at the oldest band the ring holds; on a chart 95 wide
// that leaves the two columns left of it blank, where scrolling leaves the
// tail of a band already dropped.
QImage FromOldestWholeBand(const QImage& picture) { return picture.copy(2, 0, picture.width() - 2, picture.height()); }

TEST(GraphGrid, AFullRedrawKeepsTheGridAndTheLinesWhereScrollingLeftThem) {
  RealGraph real;
  for (int i = 0; i < 4; ++i) real.Sample(0);
  QImage scrolled = real.picture.Image().copy();
  real.graph.Replay();
  EXPECT_EQ(real.picture.Image(), scrolled);
  // With lines across more than one screen width, the scale unchanged.
  for (int i = 0; i < 45; ++i) real.Sample((i * 37) % 90 + 5);
  scrolled = real.picture.Image().copy();
  real.graph.Replay();
  EXPECT_EQ(FromOldestWholeBand(real.picture.Image()), FromOldestWholeBand(scrolled));
}

TEST(PerformanceGraphWidget, SamplesTakenOutOfSightShowWhenItComesBack) {
  QWidget window;
  auto* graph = new TPerformanceGraph(&window);
  graph->Model().SetGridSize(7);
  graph->Model().SetGradient(100);
  graph->setFixedSize(95, 28);
  window.show();
  graph->Model().Fit(graph->size());
  RealGraph seen;  // fed the same samples, always drawing

  auto sample = [&](int value) {
    graph->DataPoint(kLime, value);
    graph->Update();
    seen.Sample(value);
  };
  for (int i = 0; i < 10; ++i) sample(20 + i);
  ASSERT_EQ(graph->Picture(), seen.picture.Image());

  window.hide();  // as when minimised into the notification area
  const QImage whenHidden = graph->Picture().copy();
  for (int i = 0; i < 50; ++i) sample((i * 53) % 140 + 1);  // the scale moves too
  EXPECT_EQ(graph->Picture(), whenHidden) << "drew while out of sight";

  window.show();
  EXPECT_EQ(FromOldestWholeBand(graph->Picture()), FromOldestWholeBand(seen.picture.Image()));
}

TEST_F(GraphModelTest, WideningKeepsTheNewestSamplesAtTheRightEdge) {
  for (int i = 1; i <= 40; ++i) Sample(i);  // more than the ring holds
  picture.Forget();
  model.Fit(QSize(125, 28));
  EXPECT_EQ(model.Bands().size(), 43u);
  const auto lime = picture.LinesIn(kLime);
  ASSERT_FALSE(lime.empty());
  // The newest sample, 40, ends at the new right edge; the one before leads to it.
  EXPECT_EQ(lime.back().from, QPoint(122, 28 - 39 * 28 / 100));
  EXPECT_EQ(lime.back().to, QPoint(125, 28 - 40 * 28 / 100));
  // Everything kept is drawn, oldest first, one strip apart, and nothing lies
  // left of it: the space freed by widening is at the left.
  for (std::size_t i = 1; i < lime.size(); ++i) EXPECT_EQ(lime[i].from.x() - lime[i - 1].from.x(), 3);
  EXPECT_EQ(static_cast<int>(lime.size()), 32);  // samples 9..40; the band being filled is empty

  // Narrowing drops the oldest.
  picture.Forget();
  model.Fit(QSize(30, 28));
  EXPECT_EQ(model.Bands().size(), 12u);
  const auto kept = picture.LinesIn(kLime);
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.back().to, QPoint(30, 28 - 40 * 28 / 100));
  EXPECT_EQ(kept.front().to, QPoint(kept.front().from.x() + 3, 28 - 31 * 28 / 100));
}

TEST_F(GraphModelTest, ASeventeenthPointInOneBandIsARangeError) {
  for (int i = 0; i < 16; ++i) model.DataPoint(kLime, i);
  EXPECT_THROW(model.DataPoint(kLime, 16), std::out_of_range);
  EXPECT_EQ(model.Bands()[static_cast<std::size_t>(model.Current())].count, 16);
  model.Update();
  EXPECT_NO_THROW(model.DataPoint(kLime, 1));
}

TEST_F(GraphModelTest, LinesStartFromTheSameColourInThePreviousBand) {
  const QColor red(255, 0, 0);
  model.DataPoint(kLime, 50);
  model.DataPoint(red, 100);
  model.Update();
  picture.Forget();
  model.DataPoint(red, 50);
  model.DataPoint(kLime, 100);
  model.Update();
  const auto reds = picture.LinesIn(red);
  const auto limes = picture.LinesIn(kLime);
  ASSERT_EQ(reds.size(), 1u);
  ASSERT_EQ(limes.size(), 1u);
  EXPECT_EQ(reds[0].from.y(), 0);
  EXPECT_EQ(reds[0].to.y(), 14);
  EXPECT_EQ(limes[0].from.y(), 14);
  EXPECT_EQ(limes[0].to.y(), 0);
}

TEST_F(GraphModelTest, BarsStackOnThePreviousPointOfTheBand) {
  model.SetKind(pgBar);
  model.DataPoint(kLime, 25);
  model.DataPoint(QColor(255, 0, 0), 50);
  model.Update();
  // Bars: 25 % = 7 pixels from the bottom, then 25 % more on top of it.
  std::vector<RecordingPicture::DrawnFill> bars;
  for (const auto& f : picture.fills)
    if (f.colour != QColor(0, 0, 0)) bars.push_back(f);
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_EQ(bars[0].rect, QRect(QPoint(92, 28 - 7 - 1), QPoint(94, 27)));
  EXPECT_EQ(bars[1].rect, QRect(QPoint(92, 21 - 7 - 1), QPoint(94, 20)));
}

TEST(PerformanceGraphWidget, PaintsItsPictureAtItsOwnSize) {
  TPerformanceGraph graph;
  graph.Model().SetGridSize(7);
  graph.Model().SetGradient(100);
  graph.setFixedSize(95, 28);
  graph.DataPoint(kLime, 50);
  graph.Update();
  QImage shown(95, 28, QImage::Format_RGB32);
  graph.render(&shown);
  EXPECT_EQ(graph.Picture().size(), QSize(95, 28));
  EXPECT_EQ(shown, graph.Picture().convertToFormat(QImage::Format_RGB32));
  bool limeAtTheRight = false;
  for (int y = 0; y < 28; ++y)
    for (int x = 92; x < 95; ++x) limeAtTheRight |= QColor(shown.pixel(x, y)) == kLime;
  EXPECT_TRUE(limeAtTheRight);
  EXPECT_EQ(QColor(shown.pixel(10, 2)), QColor(0, 0, 0));
}

}  // namespace
