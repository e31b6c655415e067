// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A small scrolling strip chart: each sample adds a band of up to 16 points,
// the picture scrolls left by one band, the grid scrolls with it, and the
// vertical axis follows the largest value in view.
//
// The chart's logic (band ring, scale, grid phase, what goes where) lives in
// TPerformanceGraphModel and draws through IGraphPicture; the widget only owns
// the off-screen picture and copies it onto the screen.

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

enum TGraphKind { pgBar, pgLine };

// The off-screen picture the chart draws into.
class IGraphPicture {
 public:
  virtual ~IGraphPicture() = default;
  // New size, filled with the background.
  virtual void Reset(QSize size, QColor background) = 0;
  virtual void Fill(const QRect& rect, QColor colour) = 0;
  // Both end points included.
  virtual void Line(QPoint from, QPoint to, QColor colour) = 0;
  virtual void Copy(const QRect& source, const QRect& destination) = 0;
};

class ImageGraphPicture : public IGraphPicture {
 public:
  void Reset(QSize size, QColor background) override;
  void Fill(const QRect& rect, QColor colour) override;
  void Line(QPoint from, QPoint to, QColor colour) override;
  void Copy(const QRect& source, const QRect& destination) override;
  const QImage& Image() const { return image_; }

  // While off, drawing requests are dropped: nobody sees the picture, and a
  // full redraw (TPerformanceGraphModel::Replay) brings it back when needed.
  void SetDrawing(bool on) { drawing_ = on; }
  bool Drawing() const { return drawing_; }

 private:
  QImage image_;
  bool drawing_ = true;
};

// v rounded up to a multiple of gradient; 0 stays 0, a gradient of 0 changes nothing.
int RoundUp(int value, int gradient);

struct GraphBand {
  static constexpr int kCapacity = 16;
  int count = 0;
  std::array<QRgb, kCapacity> colours{};
  std::array<int, kCapacity> values{};
};

class TPerformanceGraphModel {
 public:
  explicit TPerformanceGraphModel(IGraphPicture& picture);

  TGraphKind Kind() const { return kind_; }
  void SetKind(TGraphKind kind);
  QColor ForeColor() const { return foreColor_; }
  void SetForeColor(QColor colour);
  QColor BackColor() const { return backColor_; }
  void SetBackColor(QColor colour);
  int GridSize() const { return gridSize_; }
  void SetGridSize(int pixels);
  int StepSize() const { return stepSize_; }
  void SetStepSize(int pixels);
  int Scale() const { return scale_; }
  void SetScale(int scale);
  int Gradient() const { return gradient_; }
  void SetGradient(int gradient);
  bool Gridlines() const { return gridlines_; }
  void SetGridlines(bool on);
  int PenWidth() const { return penWidth_; }
  void SetPenWidth(int width);

  std::function<void()> OnScaleChange;
  // Asks for the control to be shown again.
  std::function<void()> OnRepaint;

  // Adds a point to the band being filled; a 17th point raises std::out_of_range.
  void DataPoint(QColor colour, int value);
  // One sample step: scroll, next band, rescale, draw.
  void Update();
  // Before the picture is shown: follows a change of the control's size.
  void Fit(QSize controlSize);

  // Draws everything again from the history.
  void Replay();

  // Inspection.
  QSize Size() const { return size_; }
  const std::vector<GraphBand>& Bands() const { return bands_; }
  int Current() const { return current_; }
  int First() const { return first_; }
  int Phase() const { return phase_; }
  // The values of the newest bands that hold any, newest first, at most count.
  std::vector<int> LatestValues(int count) const;

 private:
  void Initialize(int offset);
  void ReallocHistory();
  void DisplayPoints(int band, const QRect& strip);
  int Previous(int band) const;
  int Height(int value) const;  // trunc(value / Scale * picture height)
  void Repaint();

  IGraphPicture& picture_;
  TGraphKind kind_ = pgLine;
  QColor foreColor_{0, 128, 0};
  QColor backColor_{0, 0, 0};
  int gridSize_ = 15;
  int stepSize_ = 3;
  int scale_ = 1000;
  int gradient_ = 100;
  bool gridlines_ = true;
  int penWidth_ = 2;

  QSize size_{100, 100};         // the control's size
  QSize pictureSize_{100, 100};  // what the picture was last prepared for
  std::vector<GraphBand> bands_;
  int current_ = 0;
  int first_ = 1;
  int phase_ = 0;
  QRect scrollSource_, scrollDestination_, newStrip_;
};

class TPerformanceGraph : public QWidget {
  Q_OBJECT
 public:
  explicit TPerformanceGraph(QWidget* parent = nullptr);
  // How many of the newest values the accessible description reads out.
  static constexpr int kDescribedValues = 5;

  TPerformanceGraphModel& Model() { return model_; }
  void DataPoint(QColor colour, int value) { model_.DataPoint(colour, value); }
  // One sample step; also tells a screen reader the newest values.
  void Update();
  const QImage& Picture() const { return picture_.Image(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  ImageGraphPicture picture_;
  TPerformanceGraphModel model_;
};
