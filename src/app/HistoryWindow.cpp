// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HistoryWindow.h"

#include "monitor/Conversions.h"
#include "monitor/DeviceData.h"
#include "monitor/UnitStates.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace {

const QStringList kSpanNames{QStringLiteral("10 minutes"), QStringLiteral("1 hour"), QStringLiteral("24 hours"),
                             QStringLiteral("7 days")};
// Evaporator first; the others in colours that stay apart on a light chart.
const std::array<QColor, 5> kSensorColours{QColor(0x1f, 0x5f, 0xbf), QColor(0x2a, 0x9d, 0x3f),
                                          QColor(0x8e, 0x44, 0xad), QColor(0x16, 0x9c, 0xa8),
                                          QColor(0x7f, 0x6a, 0x00)};
const QColor kFaultShade(255, 0, 0, 45);
const QColor kLostShade(110, 110, 110, 60);
const QColor kWarningShade(229, 103, 1, 35);
// Hatched, so that it stays apart from a fault's red where both stand (a
// fault is what usually arms the shutdown).
const QBrush kArmedShade(QColor(190, 0, 90, 200), Qt::BDiagPattern);
const QColor kFrontFanColour(0x1f, 0x5f, 0xbf);
const QColor kRearFanColour(0x2a, 0x9d, 0x3f);
const QColor kLoadColour(0xc0, 0x39, 0x2b);
// Each chart's margin around what its axes need.
constexpr int kChartMargin = 4;
// The share of a value axis left free beyond its first and last tick, so
// that a line at 0 or at full scale is not cut by the plot area's edge.
constexpr double kAxisRoom = 0.1;
// A fault sample stands for at most this long when no sample follows it.
constexpr qint64 kFaultHoldMs = 6000;

bool Celsius() { return CelsiusFlag; }
QString UnitSuffix() { return Celsius() ? QStringLiteral("\u00B0C") : QStringLiteral("\u00B0F"); }
int Shown(int celsius) { return Celsius() ? celsius : CelsiusToFahrenheit(celsius); }

QString SensorLabel(const HistorySensors& sensors, int n) {
  if (n == 0) return QStringLiteral("Evaporator");
  const QString& name = sensors[n].name;
  return name.isEmpty() ? QStringLiteral("Sensor %1").arg(n + 1) : name;
}

class HoverView : public QChartView {
 public:
  HoverView(QChart* chart, std::function<void(qint64, QPoint)> hovered)
      : QChartView(chart), hovered_(std::move(hovered)) {
    setMouseTracking(true);
    setRenderHint(QPainter::Antialiasing);
  }

 protected:
  void mouseMoveEvent(QMouseEvent* event) override {
    const QPointF scenePos = mapToScene(event->position().toPoint());
    const QPointF chartPos = chart()->mapFromScene(scenePos);
    if (chart()->plotArea().contains(chartPos)) {
      hovered_(static_cast<qint64>(chart()->mapToValue(chartPos).x()), event->globalPosition().toPoint());
    }
    QChartView::mouseMoveEvent(event);
  }

 private:
  std::function<void(qint64, QPoint)> hovered_;
};

QChart* NewChart() {
  auto* chart = new QChart;
  chart->setMargins(QMargins(kChartMargin, kChartMargin, kChartMargin, kChartMargin));
  // The key is a widget of its own below the chart (HistoryLegend).
  chart->legend()->hide();
  chart->setBackgroundRoundness(0);
  return chart;
}

QDateTimeAxis* NewTimeAxis(QChart* chart) {
  auto* axis = new QDateTimeAxis;
  axis->setTickCount(7);
  chart->addAxis(axis, Qt::AlignBottom);
  return axis;
}

using LegendEntries = std::vector<HistoryLegend::Entry>;

QLineSeries* AddLine(QChart* chart, const QString& name, const QColor& colour, Qt::PenStyle style, qreal width,
                     QAbstractAxis* x, QAbstractAxis* y, LegendEntries* legend, const QString& shown = {},
                     bool withPrevious = false) {
  auto* series = new QLineSeries;
  series->setName(name);
  QPen pen(colour, width, style);
  series->setPen(pen);
  chart->addSeries(series);
  series->attachAxis(x);
  series->attachAxis(y);
  if (legend) legend->push_back({shown.isEmpty() ? name : shown, pen, Qt::NoBrush, withPrevious});
  return series;
}

// Shades each span over the axis's whole height.
void AddShade(QChart* chart, const QString& name, const QBrush& brush, const std::vector<TimeSpan>& spans,
              QAbstractAxis* x, QValueAxis* y, LegendEntries* legend) {
  if (spans.empty()) return;
  if (legend) legend->push_back({name, Qt::NoPen, brush, false});
  auto* upper = new QLineSeries;
  auto* lower = new QLineSeries;
  const double lo = y->min();
  const double hi = y->max();
  for (const TimeSpan& s : spans) {
    const double a = static_cast<double>(s.fromMs);
    const double b = static_cast<double>(s.toMs);
    upper->append({{a, lo}, {a, hi}, {b, hi}, {b, lo}});
    lower->append({{a, lo}, {a, lo}, {b, lo}, {b, lo}});
  }
  auto* area = new QAreaSeries(upper, lower);
  upper->setParent(area);
  lower->setParent(area);
  area->setName(name);
  area->setBrush(brush);
  area->setPen(Qt::NoPen);
  chart->addSeries(area);
  area->attachAxis(x);
  area->attachAxis(y);
}

// The least multiple m * 10^k of `rough`'s power of ten, m taken from
// `multiples` (which end with 10), that is at least `rough`.
double RoundStep(double rough, std::initializer_list<double> multiples) {
  const double power = std::pow(10, std::floor(std::log10(rough)));
  for (double m : multiples)
    if (m * power >= rough) return m * power;
  return 10 * power;
}

void SetTicks(QValueAxis* axis, double step, double lo, double hi) {
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(0);
  axis->setTickInterval(step);
  axis->setRange(lo, hi);
}

// Round steps (1, 2 or 5 times a power of ten), about `steps` of them (up
// to twice as many), around the values with a little room.
void FitAxis(QValueAxis* axis, double lo, double hi, double room, int steps) {
  if (lo > hi) {
    lo = 0;
    hi = 50;
  }
  lo -= room;
  hi += room;
  const double step = RoundStep(std::max(1.0, (hi - lo) / steps), {1.0, 2.0, 5.0, 10.0});
  SetTicks(axis, step, std::floor(lo / step) * step, std::ceil(hi / step) * step);
}

// `parts` round steps from 0 to at least hi (4: quarters), with a little
// room beyond both ends. Axes fitted so with the same parts share their
// grid lines.
void FitParts(QValueAxis* axis, double hi, int parts) {
  const double step =
      RoundStep(std::max(1.0, hi / parts), {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 7.5, 8.0, 10.0});
  SetTicks(axis, step, -kAxisRoom * step, (parts + kAxisRoom) * step);
}

QString CsvField(const QString& text) {
  if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')))
    return text;
  QString quoted = text;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString IsoTime(qint64 ms) {
  // The offset written out, +00:00 included (Qt writes UTC as "Z"), so that
  // every line says which local time it is.
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
  const int offset = local.offsetFromUtc();
  const int minutes = std::abs(offset) / 60;
  return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + (offset < 0 ? u'-' : u'+') +
         QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

// The legend's measures, in the font's terms so that they follow it and the
// scale.
int SampleWidth(const QFontMetrics& fm) { return fm.height() * 2; }
int Gap(const QFontMetrics& fm) { return fm.height() / 3; }

}  // namespace

HistoryLegend::HistoryLegend(QWidget* parent) : QWidget(parent) {
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

void HistoryLegend::SetEntries(std::vector<Entry> entries) {
  entries_ = std::move(entries);
  updateGeometry();
  update();
}

int HistoryLegend::EntryWidth(const Entry& e) const {
  const QFontMetrics fm = fontMetrics();
  return SampleWidth(fm) + Gap(fm) + fm.horizontalAdvance(e.text);
}

std::vector<QRect> HistoryLegend::Place(int width, int* rows) const {
  const QFontMetrics fm = fontMetrics();
  const int rowHeight = fm.height() + Gap(fm);
  std::vector<QRect> at;
  int x = 0;
  int row = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    // A group (a sensor and its limits) wraps as one where it fits a row.
    int needed = EntryWidth(entries_[i]);
    for (std::size_t j = i + 1; j < entries_.size() && entries_[j].withPrevious; ++j)
      needed += 2 * Gap(fm) + EntryWidth(entries_[j]);
    if (entries_[i].withPrevious) needed = EntryWidth(entries_[i]);
    const int before = x == 0 ? 0 : (entries_[i].withPrevious ? 2 : 4) * Gap(fm);
    if (x > 0 && x + before + needed > width) {
      x = 0;
      ++row;
    } else {
      x += before;
    }
    const int w = EntryWidth(entries_[i]);
    at.emplace_back(x, row * rowHeight, w, fm.height());
    x += w;
  }
  *rows = entries_.empty() ? 0 : row + 1;
  return at;
}

int HistoryLegend::heightForWidth(int width) const {
  int rows = 0;
  Place(width, &rows);
  const QFontMetrics fm = fontMetrics();
  return rows == 0 ? 0 : rows * (fm.height() + Gap(fm)) - Gap(fm);
}

QSize HistoryLegend::sizeHint() const {
  int width = 0;
  for (const Entry& e : entries_) width += EntryWidth(e) + 4 * Gap(fontMetrics());
  return {width, heightForWidth(width)};
}

QSize HistoryLegend::minimumSizeHint() const { return {0, fontMetrics().height()}; }

void HistoryLegend::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QFontMetrics fm = fontMetrics();
  int rows = 0;
  const std::vector<QRect> at = Place(width(), &rows);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    const QRect r = at[i];
    const QRect sample(r.left(), r.top(), SampleWidth(fm), r.height());
    if (e.line.style() != Qt::NoPen) {
      QPen pen = e.line;
      // Dashes are measured in pen widths: a thin pen shows too few of them
      // over a short sample.
      pen.setWidthF(std::max<qreal>(pen.widthF(), 1.5));
      painter.setPen(pen);
      painter.drawLine(QPointF(sample.left(), sample.center().y() + 0.5),
                       QPointF(sample.right(), sample.center().y() + 0.5));
    } else {
      const QRectF box = QRectF(sample).adjusted(2, 3, -2, -3);
      painter.fillRect(box, palette().base());
      painter.fillRect(box, e.area);
      painter.setPen(QPen(palette().color(QPalette::Mid), 1));
      painter.drawRect(box);
    }
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(sample.right() + Gap(fm), r.top(), r.width(), r.height()), Qt::AlignVCenter, e.text);
  }
}

std::vector<HistoryPoint> ThinHistory(const std::vector<HistoryPoint>& points, qint64 bucketMs,
                                      const HistorySensors& sensors) {
  if (bucketMs <= 1 || points.empty()) return points;
  std::vector<HistoryPoint> out;
  std::size_t i = 0;
  while (i < points.size()) {
    const qint64 bucket = points[i].ms / bucketMs;
    HistoryPoint merged = points[i];
    long long front = 0, rear = 0, load = 0, mhz = 0;
    int count = 0;
    for (; i < points.size() && points[i].ms / bucketMs == bucket; ++i) {
      const HistoryPoint& p = points[i];
      for (int n = 0; n < 5; ++n) {
        if (!p.celsius[n]) continue;
        std::optional<int>& m = merged.celsius[n];
        if (!m || (sensors[n].higher ? *p.celsius[n] > *m : *p.celsius[n] < *m)) m = p.celsius[n];
      }
      if (IsFaultCode(p.state)) merged.state = p.state;
      merged.warning = merged.warning || p.warning;
      merged.shutdown = merged.shutdown || p.shutdown;
      front += p.frontRpm;
      rear += p.rearRpm;
      load += p.cpuLoad;
      mhz += p.cpuMHz;
      ++count;
    }
    merged.frontRpm = static_cast<int>(front / count);
    merged.rearRpm = static_cast<int>(rear / count);
    merged.cpuLoad = static_cast<int>(load / count);
    merged.cpuMHz = static_cast<int>(mhz / count);
    out.push_back(merged);
  }
  return out;
}

HistoryWindow::HistoryWindow(const HistoryStore& store, std::function<QDateTime()> now, QWidget* parent)
    : QWidget(parent, Qt::Window), store_(store), now_(std::move(now)) {
  setObjectName(QStringLiteral("HistoryWindow"));
  setWindowTitle(QStringLiteral("History"));
  setAttribute(Qt::WA_DeleteOnClose);

  spanBox_ = new QComboBox;
  spanBox_->setObjectName(QStringLiteral("SpanComboBox"));
  spanBox_->addItems(kSpanNames);
  exportButton_ = new QPushButton(QStringLiteral("Export CSV\u2026"));
  exportButton_->setObjectName(QStringLiteral("ExportCsvButton"));
  hoverLabel_ = new QLabel;
  hoverLabel_->setObjectName(QStringLiteral("HoverLabel"));
  hoverLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  tempChart_ = NewChart();
  tempTime_ = NewTimeAxis(tempChart_);
  tempAxis_ = new QValueAxis;
  tempAxis_->setLabelFormat(QStringLiteral("%d"));
  tempChart_->addAxis(tempAxis_, Qt::AlignLeft);

  fanChart_ = NewChart();
  fanTime_ = NewTimeAxis(fanChart_);
  rpmAxis_ = new QValueAxis;
  rpmAxis_->setLabelFormat(QStringLiteral("%d"));
  rpmAxis_->setTitleText(QStringLiteral("RPM"));
  fanChart_->addAxis(rpmAxis_, Qt::AlignLeft);
  loadAxis_ = new QValueAxis;
  loadAxis_->setLabelFormat(QStringLiteral("%d"));
  FitParts(loadAxis_, 100, fanParts_);
  // Its ticks fall on the RPM axis's grid lines.
  loadAxis_->setGridLineVisible(false);
  loadAxis_->setTitleText(QStringLiteral("CPU %"));
  fanChart_->addAxis(loadAxis_, Qt::AlignRight);

  auto hovered = [this](qint64 ms, QPoint at) { ShowHover(ms, at); };
  tempView_ = new HoverView(tempChart_, hovered);
  tempView_->setObjectName(QStringLiteral("TemperatureChartView"));
  fanView_ = new HoverView(fanChart_, hovered);
  fanView_->setObjectName(QStringLiteral("FanChartView"));
  // Small enough for a short screen at a large scale; the charts' own
  // minimum (axes and labels) comes on top.
  tempView_->setMinimumHeight(110);
  fanView_->setMinimumHeight(80);
  tempLegend_ = new HistoryLegend;
  tempLegend_->setObjectName(QStringLiteral("TemperatureLegend"));
  fanLegend_ = new HistoryLegend;
  fanLegend_->setObjectName(QStringLiteral("FanLegend"));
  for (QChart* c : {tempChart_, fanChart_})
    connect(c, &QChart::plotAreaChanged, this, &HistoryWindow::AlignPlotAreas);

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Show the last")));
  top->addWidget(spanBox_);
  top->addStretch(1);
  top->addWidget(exportButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(tempView_, 3);
  layout->addWidget(tempLegend_);
  layout->addWidget(fanView_, 2);
  layout->addWidget(fanLegend_);
  layout->addWidget(hoverLabel_);
  // Room for the window manager's frame, which is not known before the
  // window is shown.
  const QSize frame(16, 48);
  const QRect available = screen()->availableGeometry();
  resize(QSize(960, 640).boundedTo(available.size() - frame));
  ApplyPalette();

  askExportPath = [this] {
    const QString name = QStringLiteral("history-%1.csv").arg(now_().toString(QStringLiteral("yyyyMMdd-HHmm")));
    return QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), name,
                                        QStringLiteral("CSV files (*.csv)"));
  };
  lostLinkTimer_ = new QTimer(this);
  lostLinkTimer_->setObjectName(QStringLiteral("LostLinkTimer"));
  lostLinkTimer_->setInterval(3000);
  connect(lostLinkTimer_, &QTimer::timeout, this, &HistoryWindow::Rebuild);
  connect(spanBox_, &QComboBox::currentIndexChanged, this, [this] { Reload(); });
  connect(exportButton_, &QPushButton::clicked, this, &HistoryWindow::ExportClicked);
  Reload();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::SetSpan(int index) { spanBox_->setCurrentIndex(index); }
int HistoryWindow::Span() const { return std::clamp(spanBox_->currentIndex(), 0, 3); }
qint64 HistoryWindow::FromMs() const { return nowMs_ - kSpanMs[Span()]; }

void HistoryWindow::Reload() {
  nowMs_ = now_().toMSecsSinceEpoch();
  points_ = store_.Read(FromMs(), nowMs_ + 1);
  events_ = store_.LinkEvents(FromMs(), nowMs_ + 1);
  if (!events_.empty() && !events_.back().up) lostLinkTimer_->start();
  Rebuild();
}

void HistoryWindow::AddPoint(const HistoryPoint& point) {
  while (!points_.empty() && points_.back().ms >= point.ms) points_.pop_back();
  points_.push_back(point);
  Rebuild();
}

void HistoryWindow::AddLinkEvent(const LinkEvent& event) {
  events_.push_back(event);
  // No samples come while the link is down: the grey span grows at the pace
  // of the polls instead. Its end comes with the sample that follows it.
  if (event.up) {
    lostLinkTimer_->stop();
  } else {
    lostLinkTimer_->start();
    Rebuild();
  }
}

std::vector<int> HistoryWindow::ShownSensors() const {
  std::vector<int> shown{0};
  for (int n = 1; n < 5; ++n) {
    if (store_.Sensors()[n].fitted) shown.push_back(n);
  }
  return shown;
}

QLineSeries* HistoryWindow::Line(const QString& name) const {
  for (QChart* chart : {tempChart_, fanChart_}) {
    for (QAbstractSeries* s : chart->series()) {
      if (s->name() == name) return qobject_cast<QLineSeries*>(s);
    }
  }
  return nullptr;
}

void HistoryWindow::Rebuild() {
  ++rebuilds_;
  nowMs_ = now_().toMSecsSinceEpoch();
  if (!points_.empty()) nowMs_ = std::max(nowMs_, points_.back().ms);
  const auto firstKept = std::lower_bound(points_.begin(), points_.end(), FromMs(),
                                          [](const HistoryPoint& p, qint64 ms) { return p.ms < ms; });
  points_.erase(points_.begin(), firstKept);
  const HistorySensors& sensors = store_.Sensors();
  const std::vector<int> shown = ShownSensors();
  const qint64 from = FromMs();
  const qint64 span = kSpanMs[Span()];
  const qint64 bucket = static_cast<qint64>(points_.size()) > kMaxPoints ? span / kMaxPoints : 0;
  const std::vector<HistoryPoint> drawn = ThinHistory(points_, bucket, sensors);

  tempChart_->removeAllSeries();
  fanChart_->removeAllSeries();
  const QDateTime fromTime = QDateTime::fromMSecsSinceEpoch(from);
  const QDateTime toTime = QDateTime::fromMSecsSinceEpoch(nowMs_);
  const QString format = Span() == 3 ? QStringLiteral("ddd HH:mm")
                         : Span() == 0 ? QStringLiteral("HH:mm:ss")
                                       : QStringLiteral("HH:mm");
  for (QDateTimeAxis* axis : {tempTime_, fanTime_}) {
    axis->setFormat(format);
    axis->setRange(fromTime, toTime);
  }
  tempAxis_->setTitleText(UnitSuffix());

  double lo = 1e9, hi = -1e9;
  LegendEntries tempKey;
  for (int n : shown) {
    const QColor colour = kSensorColours[n];
    const QString label = SensorLabel(sensors, n);
    QLineSeries* line = AddLine(tempChart_, label, colour, Qt::SolidLine, 2, tempTime_, tempAxis_, &tempKey);
    QList<QPointF> values;
    values.reserve(static_cast<qsizetype>(drawn.size()));
    for (const HistoryPoint& p : drawn) {
      if (!p.celsius[n]) continue;
      const int v = Shown(*p.celsius[n]);
      values.append(QPointF(static_cast<double>(p.ms), v));
      lo = std::min(lo, double(v));
      hi = std::max(hi, double(v));
    }
    line->replace(values);
    const int limits[2] = {Shown(sensors[n].warningCelsius), Shown(sensors[n].shutdownCelsius)};
    const QString kinds[2] = {QStringLiteral("warning limit"), QStringLiteral("shut-down limit")};
    for (int k = 0; k < 2; ++k) {
      QLineSeries* limit = AddLine(tempChart_, label + QLatin1Char(' ') + kinds[k], colour,
                                   k == 0 ? Qt::DashLine : Qt::DashDotLine, k == 0 ? 1.2 : 1.6, tempTime_, tempAxis_,
                                   &tempKey, kinds[k], true);
      limit->replace({QPointF(static_cast<double>(from), limits[k]),
                      QPointF(static_cast<double>(nowMs_), limits[k])});
      lo = std::min(lo, double(limits[k]));
      hi = std::max(hi, double(limits[k]));
    }
  }
  FitAxis(tempAxis_, lo, hi, 3, tempSteps_);

  int maxRpm = 0;
  QList<QPointF> front, rear, load;
  for (const HistoryPoint& p : drawn) {
    const double x = static_cast<double>(p.ms);
    front.append(QPointF(x, p.frontRpm));
    rear.append(QPointF(x, p.rearRpm));
    load.append(QPointF(x, p.cpuLoad));
    maxRpm = std::max({maxRpm, p.frontRpm, p.rearRpm});
  }
  FitParts(rpmAxis_, std::max(500, maxRpm), fanParts_);
  FitParts(loadAxis_, 100, fanParts_);
  LegendEntries fanKey;
  AddLine(fanChart_, QStringLiteral("Front fan"), kFrontFanColour, Qt::SolidLine, 1.5, fanTime_, rpmAxis_, &fanKey)
      ->replace(front);
  AddLine(fanChart_, QStringLiteral("Rear fan"), kRearFanColour, Qt::SolidLine, 1.5, fanTime_, rpmAxis_, &fanKey)
      ->replace(rear);
  AddLine(fanChart_, QStringLiteral("CPU load"), kLoadColour, Qt::SolidLine, 1, fanTime_, loadAxis_, &fanKey)
      ->replace(load);

  const std::vector<TimeSpan> faults = FaultSpans(points_, kFaultHoldMs);
  // An armed shutdown comes with a warning of its own; it is shaded as what
  // it is, not as one more warning.
  const std::vector<TimeSpan> warnings = FlagSpans(
      points_, kFaultHoldMs, [](const HistoryPoint& p) { return p.warning && !p.shutdown && !IsFaultCode(p.state); });
  const std::vector<TimeSpan> armed =
      FlagSpans(points_, kFaultHoldMs, [](const HistoryPoint& p) { return p.shutdown; });
  const std::vector<TimeSpan> lost = LostLinkSpans(events_, from, nowMs_);
  AddShade(tempChart_, QStringLiteral("Warning"), kWarningShade, warnings, tempTime_, tempAxis_, &tempKey);
  AddShade(tempChart_, QStringLiteral("Fault"), kFaultShade, faults, tempTime_, tempAxis_, &tempKey);
  AddShade(tempChart_, QStringLiteral("Shutdown armed"), kArmedShade, armed, tempTime_, tempAxis_, &tempKey);
  AddShade(tempChart_, QStringLiteral("Link lost"), kLostShade, lost, tempTime_, tempAxis_, &tempKey);
  AddShade(fanChart_, QStringLiteral("Fault"), kFaultShade, faults, fanTime_, rpmAxis_, nullptr);
  AddShade(fanChart_, QStringLiteral("Shutdown armed"), kArmedShade, armed, fanTime_, rpmAxis_, nullptr);
  AddShade(fanChart_, QStringLiteral("Link lost"), kLostShade, lost, fanTime_, rpmAxis_, nullptr);
  tempLegend_->SetEntries(std::move(tempKey));
  fanLegend_->SetEntries(std::move(fanKey));
}

void HistoryWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) ApplyPalette();
}

void HistoryWindow::ApplyPalette() {
  const QPalette p = palette();
  for (QChart* c : {tempChart_, fanChart_}) {
    c->setBackgroundBrush(p.base());
    c->setBackgroundPen(Qt::NoPen);
    for (QAbstractAxis* axis : c->axes()) {
      axis->setLabelsBrush(p.text());
      axis->setTitleBrush(p.text());
      axis->setLinePen(QPen(p.color(QPalette::Text), 1));
      QColor grid = p.color(QPalette::Text);
      grid.setAlpha(45);
      axis->setGridLinePen(QPen(grid, 1));
    }
  }
}

QRectF HistoryWindow::PlotAreaInWindow(const QChart* chart) const {
  const QChartView* view = chart == tempChart_ ? tempView_ : fanView_;
  const QRectF inView = view->mapFromScene(chart->mapToScene(chart->plotArea())).boundingRect();
  return inView.translated(view->mapTo(this, QPoint(0, 0)));
}

void HistoryWindow::AlignPlotAreas() {
  // The two charts share a time axis only if their plot areas start and end
  // at the same x. Each chart lays itself out (so that its background, axes
  // and plot area follow its size); what differs is the room its value axes
  // take, which the margins make up for.
  if (aligning_) return;
  aligning_ = true;
  const std::array<QChart*, 2> charts{tempChart_, fanChart_};
  std::array<qreal, 2> ownLeft{}, ownRight{};
  for (std::size_t i = 0; i < charts.size(); ++i) {
    const QRectF plot = charts[i]->plotArea();
    const QMargins m = charts[i]->margins();
    ownLeft[i] = plot.left() - m.left();
    ownRight[i] = charts[i]->size().width() - plot.right() - m.right();
  }
  const qreal left = std::max(ownLeft[0], ownLeft[1]);
  const qreal right = std::max(ownRight[0], ownRight[1]);
  for (std::size_t i = 0; i < charts.size(); ++i) {
    const QMargins want(kChartMargin + qRound(left - ownLeft[i]), kChartMargin,
                        kChartMargin + qRound(right - ownRight[i]), kChartMargin);
    if (charts[i]->margins() != want) charts[i]->setMargins(want);
  }
  // As many time labels as fit side by side.
  const QFontMetrics fm(tempTime_->labelsFont());
  const int label = fm.horizontalAdvance(QStringLiteral("Wed 00:00:00")) + fm.height() * 2;
  const int ticks = std::clamp(static_cast<int>(tempChart_->plotArea().width()) / std::max(1, label) + 1, 3, 7);
  for (QDateTimeAxis* axis : {tempTime_, fanTime_}) {
    if (axis->tickCount() != ticks) axis->setTickCount(ticks);
  }
  // As many value labels as fit one above the other (the charts shorten a
  // label that does not fit to "..."), and the axes' titles where they fit.
  const qreal lineHeight = fm.height() * 1.25;
  const qreal tempHeight = tempChart_->plotArea().height();
  const qreal fanHeight = fanChart_->plotArea().height();
  const int tempSteps = std::clamp(static_cast<int>(tempHeight / (lineHeight * 1.6)), 1, 6);
  const int fanParts = fanHeight >= 5 * lineHeight ? 4 : fanHeight >= 3 * lineHeight ? 2 : 1;
  for (QValueAxis* axis : {tempAxis_, rpmAxis_, loadAxis_}) {
    const qreal height = axis == tempAxis_ ? tempHeight : fanHeight;
    const bool fits = height > fm.horizontalAdvance(axis->titleText()) + fm.height();
    if (axis->isTitleVisible() != fits) axis->setTitleVisible(fits);
  }
  if (tempSteps != tempSteps_ || fanParts != fanParts_) {
    tempSteps_ = tempSteps;
    fanParts_ = fanParts;
    // Not from within the charts' layout, which is what called this.
    QMetaObject::invokeMethod(this, &HistoryWindow::Rebuild, Qt::QueuedConnection);
  }
  aligning_ = false;
}

QString HistoryWindow::HoverText(qint64 ms) const {
  for (const TimeSpan& s : LostLinkSpans(events_, FromMs(), nowMs_)) {
    if (ms >= s.fromMs && ms < s.toMs) {
      return QStringLiteral("%1  no reply from the unit")
          .arg(QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("ddd HH:mm:ss")));
    }
  }
  if (points_.empty()) return QString();
  auto it = std::lower_bound(points_.begin(), points_.end(), ms,
                             [](const HistoryPoint& p, qint64 t) { return p.ms < t; });
  if (it == points_.end() || (it != points_.begin() && ms - std::prev(it)->ms < it->ms - ms)) --it;
  const HistoryPoint& p = *it;
  const HistorySensors& sensors = store_.Sensors();
  QStringList parts{QDateTime::fromMSecsSinceEpoch(p.ms).toString(QStringLiteral("ddd HH:mm:ss"))};
  for (int n : ShownSensors()) {
    parts << SensorLabel(sensors, n) + QLatin1Char(' ') +
                 (p.celsius[n] ? QString::number(Shown(*p.celsius[n])) + UnitSuffix() : QStringLiteral("N/A"));
  }
  parts << QStringLiteral("Front fan %1 RPM").arg(p.frontRpm) << QStringLiteral("Rear fan %1 RPM").arg(p.rearRpm)
        << QStringLiteral("CPU load %1 %").arg(p.cpuLoad);
  if (IsFaultCode(p.state) || p.warning) parts << LookupUnitState(p.state).caption;
  if (p.shutdown) parts << QStringLiteral("Shutdown armed");
  return parts.join(QStringLiteral("   "));
}

void HistoryWindow::ShowHover(qint64 ms, const QPoint& globalPos) {
  const QString text = HoverText(ms);
  hoverLabel_->setText(text);
  QToolTip::showText(globalPos, text.split(QStringLiteral("   ")).join(QLatin1Char('\n')), this);
}

QStringList HistoryWindow::CsvHeader(const std::vector<int>& sensors) const {
  QStringList header{QStringLiteral("Time")};
  for (int n : sensors) header << QStringLiteral("%1 (%2)").arg(SensorLabel(store_.Sensors(), n), UnitSuffix());
  header << QStringLiteral("Front fan (RPM)") << QStringLiteral("Rear fan (RPM)") << QStringLiteral("CPU load (%)")
         << QStringLiteral("Unit state");
  return header;
}

bool HistoryWindow::ExportCsv(const QString& path) const {
  const std::vector<int> sensors = ShownSensors();
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
  QStringList header;
  for (const QString& h : CsvHeader(sensors)) header << CsvField(h);
  QString text = header.join(QLatin1Char(',')) + QLatin1Char('\n');
  for (const HistoryPoint& p : points_) {
    QStringList row{IsoTime(p.ms)};
    for (int n : sensors) row << (p.celsius[n] ? QString::number(Shown(*p.celsius[n])) : QString());
    row << QString::number(p.frontRpm) << QString::number(p.rearRpm) << QString::number(p.cpuLoad)
        << QString::number(p.state);
    text += row.join(QLatin1Char(',')) + QLatin1Char('\n');
  }
  file.write(text.toUtf8());
  return file.commit();
}

void HistoryWindow::ExportClicked() {
  const QString path = askExportPath ? askExportPath() : QString();
  if (path.isEmpty()) return;
  if (!ExportCsv(path)) hoverLabel_->setText(QStringLiteral("Could not write %1").arg(path));
}
