// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The history window: the temperatures over a chosen span with each sensor's
// limits, and below them, on the same time axis, the fans and the CPU load.
// It exists only while it is open; while open it redraws once per sample.

#include "history/HistoryStore.h"

#include <QBrush>
#include <QPen>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

// A chart's key, drawn beside it rather than inside: each line with its own
// pen (so that dashes can be told apart), each shade with its own fill, and
// rows that wrap with the window's width.
class HistoryLegend : public QWidget {
 public:
  struct Entry {
    QString text;
    QPen line;       // Qt::NoPen for a shade
    QBrush area;     // Qt::NoBrush for a line
    bool withPrevious = false;  // kept on the row of the entry before it
  };
  explicit HistoryLegend(QWidget* parent = nullptr);
  void SetEntries(std::vector<Entry> entries);
  const std::vector<Entry>& Entries() const { return entries_; }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // Where each entry goes at that width; the last row's bottom in rows.
  std::vector<QRect> Place(int width, int* rows) const;
  int EntryWidth(const Entry& e) const;
  std::vector<Entry> entries_;
};

class HistoryWindow : public QWidget {
  Q_OBJECT
 public:
  static constexpr std::array<qint64, 4> kSpanMs{10LL * 60 * 1000, 3600LL * 1000, 24LL * 3600 * 1000,
                                                 7LL * 24 * 3600 * 1000};
  // Beyond this many samples in the span, neighbouring samples are drawn as one.
  static constexpr int kMaxPoints = 1200;

  HistoryWindow(const HistoryStore& store, std::function<QDateTime()> now, QWidget* parent = nullptr);
  ~HistoryWindow() override;

  // 0: 10 minutes, 1: 1 hour, 2: 24 hours, 3: 7 days.
  void SetSpan(int index);
  int Span() const;
  // A new sample and a change of the link, as they happen.
  void AddPoint(const HistoryPoint& point);
  void AddLinkEvent(const LinkEvent& event);
  // Reads the span from the store again, then redraws.
  void Reload();
  // Redraws from what the window holds (the display unit may have changed).
  void Rebuild();

  QChart* TemperatureChart() const { return tempChart_; }
  QChart* FanChart() const { return fanChart_; }
  HistoryLegend* TemperatureLegend() const { return tempLegend_; }
  HistoryLegend* FanLegend() const { return fanLegend_; }
  // A chart's plot area in the window's coordinates.
  QRectF PlotAreaInWindow(const QChart* chart) const;
  // A drawn line by its name: a sensor's name, "<name> warning limit",
  // "<name> shut-down limit", "Front fan", "Rear fan", "CPU load".
  QLineSeries* Line(const QString& name) const;
  // What a hover at that moment shows.
  QString HoverText(qint64 ms) const;
  // The shown span as comma-separated values; false when it could not be
  // written.
  bool ExportCsv(const QString& path) const;
  // Asks where to export; empty: cancelled. A file dialog unless replaced.
  std::function<QString()> askExportPath;
  int RebuildCount() const { return rebuilds_; }
  // The span's samples, as the store gave them and the polls added them.
  const std::vector<HistoryPoint>& Points() const { return points_; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void ExportClicked();
  void ShowHover(qint64 ms, const QPoint& globalPos);
  void AlignPlotAreas();
  void ApplyPalette();
  qint64 FromMs() const;
  std::vector<int> ShownSensors() const;
  QStringList CsvHeader(const std::vector<int>& sensors) const;

  const HistoryStore& store_;
  std::function<QDateTime()> now_;
  std::vector<HistoryPoint> points_;
  std::vector<LinkEvent> events_;
  qint64 nowMs_ = 0;
  int rebuilds_ = 0;
  bool aligning_ = false;
  // How finely the value axes are divided, for the height they have.
  int tempSteps_ = 6;
  int fanParts_ = 4;

  QTimer* lostLinkTimer_ = nullptr;
  QComboBox* spanBox_ = nullptr;
  QPushButton* exportButton_ = nullptr;
  QLabel* hoverLabel_ = nullptr;
  QChartView* tempView_ = nullptr;
  QChartView* fanView_ = nullptr;
  HistoryLegend* tempLegend_ = nullptr;
  HistoryLegend* fanLegend_ = nullptr;
  QChart* tempChart_ = nullptr;
  QChart* fanChart_ = nullptr;
  QDateTimeAxis* tempTime_ = nullptr;
  QDateTimeAxis* fanTime_ = nullptr;
  QValueAxis* tempAxis_ = nullptr;
  QValueAxis* rpmAxis_ = nullptr;
  QValueAxis* loadAxis_ = nullptr;
};

// Neighbouring samples merged into one per bucketMs: a temperature keeps its
// extreme towards the limits (the highest where limits are reached from
// below, the lowest otherwise), so that a short excursion is not averaged
// away; fans and load keep their mean.
std::vector<HistoryPoint> ThinHistory(const std::vector<HistoryPoint>& points, qint64 bucketMs,
                                      const HistorySensors& sensors);
