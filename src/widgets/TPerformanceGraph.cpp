// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/TPerformanceGraph.h"

#include <QPainter>
#include <QPen>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <stdexcept>

// ---------------------------------------------------------------------------
// Picture

void ImageGraphPicture::Reset(QSize size, QColor background) {
  if (!drawing_) return;
  image_ = QImage(size, QImage::Format_RGB32);
  image_.fill(background);
}

void ImageGraphPicture::Fill(const QRect& rect, QColor colour) {
  if (!drawing_ || image_.isNull()) return;
  QPainter painter(&image_);
  painter.fillRect(rect, colour);
}

void ImageGraphPicture::Line(QPoint from, QPoint to, QColor colour) {
  if (!drawing_ || image_.isNull()) return;
  QPainter painter(&image_);
  painter.setPen(QPen(colour, 1));
  painter.drawLine(from, to);
}

void ImageGraphPicture::Copy(const QRect& source, const QRect& destination) {
  if (!drawing_ || image_.isNull() || source.isEmpty()) return;
  // Moved row by row in place: the chart scrolls at every sample, and a copy
  // of the picture drawn back with a painter costs several times as much.
  const QPoint offset = destination.topLeft() - source.topLeft();
  const QRect to = source.intersected(image_.rect()).translated(offset).intersected(image_.rect());
  if (to.isEmpty()) return;
  const QRect from = to.translated(-offset);
  constexpr int kBytesPerPixel = 4;  // Format_RGB32
  uchar* bits = image_.bits();       // detaches once, before any row is moved
  const qsizetype stride = image_.bytesPerLine();
  const auto moveRow = [&](int row) {
    std::memmove(bits + (to.top() + row) * stride + to.left() * kBytesPerPixel,
                 bits + (from.top() + row) * stride + from.left() * kBytesPerPixel,
                 static_cast<std::size_t>(to.width()) * kBytesPerPixel);
  };
  // Rows overlap when moving up or down: take them in the order that reads
  // each before it is overwritten.
  if (to.top() <= from.top()) {
    for (int row = 0; row < to.height(); ++row) moveRow(row);
  } else {
    for (int row = to.height() - 1; row >= 0; --row) moveRow(row);
  }
}

// ---------------------------------------------------------------------------
// Model

int RoundUp(int value, int gradient) {
  if (gradient != 0 && value % gradient != 0) return (value / gradient + 1) * gradient;
  return value;
}

TPerformanceGraphModel::TPerformanceGraphModel(IGraphPicture& picture) : picture_(picture) {
  bands_.resize(static_cast<std::size_t>(size_.width() / stepSize_ + 2));
  current_ = 0;
  first_ = 1;
  Initialize(gridSize_ - 1);
}

void TPerformanceGraphModel::SetKind(TGraphKind kind) {
  if (kind == kind_) return;
  kind_ = kind;
  Replay();
}

void TPerformanceGraphModel::SetForeColor(QColor colour) {
  if (colour == foreColor_) return;
  foreColor_ = colour;
  Replay();
}

void TPerformanceGraphModel::SetBackColor(QColor colour) {
  if (colour == backColor_) return;
  backColor_ = colour;
  Replay();
}

void TPerformanceGraphModel::SetGridSize(int pixels) {
  pixels = std::max(pixels, 2);
  if (pixels == gridSize_) return;
  gridSize_ = pixels;
  Replay();
}

void TPerformanceGraphModel::SetStepSize(int pixels) {
  pixels = std::max(pixels, 1);
  if (pixels == stepSize_) return;
  stepSize_ = pixels;
  ReallocHistory();
  Replay();
}

void TPerformanceGraphModel::SetScale(int scale) {
  if (scale == scale_) return;
  scale_ = RoundUp(scale, gradient_);
  if (OnScaleChange) OnScaleChange();
  Replay();
}

void TPerformanceGraphModel::SetGradient(int gradient) {
  if (gradient == gradient_) return;
  gradient_ = gradient;
  Replay();
}

void TPerformanceGraphModel::SetGridlines(bool on) {
  if (on == gridlines_) return;
  gridlines_ = on;
  Replay();
}

void TPerformanceGraphModel::SetPenWidth(int width) {
  // The chart's own lines stay one pixel wide: at 28 pixels of height a
  // thicker line would smear neighbouring samples together.
  if (width == penWidth_) return;
  penWidth_ = width;
  Replay();
}

void TPerformanceGraphModel::DataPoint(QColor colour, int value) {
  GraphBand& band = bands_[static_cast<std::size_t>(current_)];
  if (band.count >= GraphBand::kCapacity) throw std::out_of_range("Range check error");
  band.colours[static_cast<std::size_t>(band.count)] = colour.rgb();
  band.values[static_cast<std::size_t>(band.count)] = value;
  ++band.count;
}

int TPerformanceGraphModel::Previous(int band) const {
  return band == 0 ? static_cast<int>(bands_.size()) - 1 : band - 1;
}

void TPerformanceGraphModel::Initialize(int offset) {
  const int width = size_.width();
  const int height = size_.height();
  picture_.Reset(size_, backColor_);
  pictureSize_ = size_;
  if (gridlines_) {
    for (int y = gridSize_; y < height; y += gridSize_)
      picture_.Line(QPoint(0, y), QPoint(width - 1, y), foreColor_);
    int x = offset;
    for (; x < width; x += gridSize_) picture_.Line(QPoint(x, 0), QPoint(x, height - 1), foreColor_);
    phase_ = x - width;
  }
  scrollSource_ = QRect(stepSize_, 0, width - stepSize_, height);
  scrollDestination_ = QRect(0, 0, width - stepSize_, height);
  newStrip_ = QRect(width - stepSize_, 0, stepSize_, height);
}

void TPerformanceGraphModel::Update() {
  const int width = size_.width();
  const int height = size_.height();

  // Scroll by one band and open the new strip.
  picture_.Copy(scrollSource_, scrollDestination_);
  picture_.Fill(newStrip_, backColor_);
  if (gridlines_) {
    for (int y = gridSize_; y < height; y += gridSize_)
      picture_.Line(QPoint(newStrip_.left(), y), QPoint(width - 1, y), foreColor_);
    phase_ -= stepSize_;
    if (phase_ < 0) {
      picture_.Line(QPoint(width + phase_, 0), QPoint(width + phase_, height - 1), foreColor_);
      phase_ += gridSize_;
    }
  }

  // The next band takes the points from now on.
  const int n = static_cast<int>(bands_.size());
  current_ = (current_ + 1) % n;
  bands_[static_cast<std::size_t>(current_)].count = 0;
  first_ = (current_ + 1) % n;

  // The scale follows the largest value in view.
  int largest = 0;
  for (const GraphBand& band : bands_)
    for (int i = 0; i < band.count; ++i) largest = std::max(largest, band.values[static_cast<std::size_t>(i)]);
  const int scale = RoundUp(largest, gradient_);

  // Under the same scale only the newest band is drawn; a new scale redraws all.
  if (scale == scale_) {
    DisplayPoints(Previous(current_), newStrip_);
    Repaint();
  } else {
    SetScale(scale);
  }
}

int TPerformanceGraphModel::Height(int value) const {
  return static_cast<int>(static_cast<double>(value) / scale_ * size_.height());
}

void TPerformanceGraphModel::DisplayPoints(int bandIndex, const QRect& strip) {
  if (scale_ == 0) return;
  const GraphBand& band = bands_[static_cast<std::size_t>(bandIndex)];
  const GraphBand& previous = bands_[static_cast<std::size_t>(Previous(bandIndex))];
  const int height = size_.height();
  const int left = strip.left();
  const int right = strip.left() + strip.width();
  int base = 0;
  for (int i = 0; i < band.count; ++i) {
    const int value = band.values[static_cast<std::size_t>(i)];
    if (value == 0) continue;
    const QRgb colour = band.colours[static_cast<std::size_t>(i)];
    if (kind_ == pgLine) {
      int start = 0;
      for (int j = 0; j < previous.count; ++j) {
        if (previous.colours[static_cast<std::size_t>(j)] == colour) {
          start = previous.values[static_cast<std::size_t>(j)];
          break;
        }
      }
      picture_.Line(QPoint(left, height - Height(start)), QPoint(right, height - Height(value)),
                    QColor(colour));
    } else {
      const int bottom = height - Height(base);
      const int bar = Height(value - base);
      if (bar > 0) {
        const int top = bottom - bar - 1;
        picture_.Fill(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)), QColor(colour));
        base = value;
      }
    }
  }
}

void TPerformanceGraphModel::Replay() {
  const int width = size_.width();
  const int height = size_.height();
  Initialize(gridSize_ != 0 ? (width + phase_) % gridSize_ : 0);
  const int bandsAcross = width / stepSize_;
  int x = bandsAcross != 0 ? width % bandsAcross : 0;
  const int n = static_cast<int>(bands_.size());
  for (int band = (first_ + 1) % n;; band = (band + 1) % n) {
    DisplayPoints(band, QRect(x, 0, stepSize_, height));
    x += stepSize_;
    if (band == current_) break;
  }
  Repaint();
  newStrip_ = QRect(width - stepSize_, 0, stepSize_, height);
}

void TPerformanceGraphModel::ReallocHistory() {
  const int oldCount = static_cast<int>(bands_.size());
  const int newCount = size_.width() / stepSize_ + 2;
  const int kept = std::min(oldCount, newCount);
  std::vector<GraphBand> bands(static_cast<std::size_t>(newCount));
  // The newest bands, oldest of them first, ending with the one being filled.
  for (int k = 0; k < kept; ++k) {
    const int from = ((current_ - (kept - 1) + k) % oldCount + oldCount) % oldCount;
    bands[static_cast<std::size_t>(k)] = bands_[static_cast<std::size_t>(from)];
  }
  bands_ = std::move(bands);
  current_ = kept - 1;
  // The oldest band is the one after the current, as always: on a wider
  // chart the empty bands come first, so the kept samples stay at the right.
  first_ = (current_ + 1) % newCount;
}

void TPerformanceGraphModel::Fit(QSize controlSize) {
  if (controlSize == pictureSize_ || controlSize.isEmpty()) return;
  const bool widthChanged = controlSize.width() != pictureSize_.width();
  size_ = controlSize;
  if (widthChanged) ReallocHistory();
  Replay();
}

void TPerformanceGraphModel::Repaint() {
  if (OnRepaint) OnRepaint();
}

std::vector<int> TPerformanceGraphModel::LatestValues(int count) const {
  std::vector<int> values;
  // The band that took the last points is the one before the current.
  for (int band = Previous(current_); band != current_ && static_cast<int>(values.size()) < count;
       band = Previous(band)) {
    const GraphBand& b = bands_[static_cast<std::size_t>(band)];
    for (int i = b.count - 1; i >= 0 && static_cast<int>(values.size()) < count; --i)
      values.push_back(b.values[static_cast<std::size_t>(i)]);
  }
  return values;
}

// ---------------------------------------------------------------------------
// Widget

void TPerformanceGraph::Update() {
  model_.Update();
  QStringList latest;
  for (int value : model_.LatestValues(kDescribedValues)) latest << QString::number(value);
  // A chart says nothing to a screen reader; its newest values do.
  setAccessibleDescription(latest.isEmpty() ? QString()
                                            : QStringLiteral("Latest values, newest first: %1 (full height %2)")
                                                  .arg(latest.join(QStringLiteral(", ")))
                                                  .arg(model_.Scale()));
}

TPerformanceGraph::TPerformanceGraph(QWidget* parent) : QWidget(parent), model_(picture_) {
  resize(100, 100);
  // The picture covers the whole control, so nothing beneath needs painting
  // first; without this every sample repainted the group box behind it.
  setAttribute(Qt::WA_OpaquePaintEvent);
  model_.OnRepaint = [this] { QWidget::update(); };
}

// Out of sight (minimised into the notification area, another page shown)
// the chart keeps its samples but draws nothing; it is drawn whole again when
// it comes back into view.
void TPerformanceGraph::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  picture_.SetDrawing(false);
}

void TPerformanceGraph::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (picture_.Drawing()) return;
  picture_.SetDrawing(true);
  model_.Replay();
}

void TPerformanceGraph::paintEvent(QPaintEvent*) {
  model_.Fit(size());
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), picture_.Image());
}
