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
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

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
// Room for the value axes' labels and titles, the same in both charts, so
// that their time axes line up whatever the labels' widths.
constexpr qreal kPlotLeft = 78;
constexpr qreal kPlotRight = 66;
constexpr qreal kPlotTop = 18;
constexpr qreal kPlotBottom = 58;
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
  chart->setMargins(QMargins(4, 4, 4, 4));
  chart->legend()->setAlignment(Qt::AlignBottom);
  chart->setBackgroundRoundness(0);
  return chart;
}

QDateTimeAxis* NewTimeAxis(QChart* chart) {
  auto* axis = new QDateTimeAxis;
  axis->setTickCount(7);
  chart->addAxis(axis, Qt::AlignBottom);
  return axis;
}

QLineSeries* AddLine(QChart* chart, const QString& name, const QColor& colour, Qt::PenStyle style, qreal width,
                     QAbstractAxis* x, QAbstractAxis* y, bool inLegend) {
  auto* series = new QLineSeries;
  series->setName(name);
  QPen pen(colour, width, style);
  series->setPen(pen);
  chart->addSeries(series);
  series->attachAxis(x);
  series->attachAxis(y);
  if (!inLegend) {
    for (QLegendMarker* marker : chart->legend()->markers(series)) marker->setVisible(false);
  }
  return series;
}

// Shades each span over the axis's whole height.
void AddShade(QChart* chart, const QString& name, const QColor& colour, const std::vector<TimeSpan>& spans,
              QAbstractAxis* x, QValueAxis* y) {
  if (spans.empty()) return;
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
  area->setBrush(colour);
  area->setPen(Qt::NoPen);
  chart->addSeries(area);
  area->attachAxis(x);
  area->attachAxis(y);
}

// Round steps (1, 2 or 5 times a power of ten), five to ten of them, around
// the values with a little room.
void FitAxis(QValueAxis* axis, double lo, double hi, double room) {
  if (lo > hi) {
    lo = 0;
    hi = 50;
  }
  lo -= room;
  hi += room;
  const double rough = std::max(1.0, (hi - lo) / 6);
  const double power = std::pow(10, std::floor(std::log10(rough)));
  double step = power;
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= rough) {
      step = m * power;
      break;
    }
  }
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(0);
  axis->setTickInterval(step);
  axis->setRange(std::floor(lo / step) * step, std::ceil(hi / step) * step);
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

}  // namespace

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
  loadAxis_->setRange(0, 100);
  loadAxis_->setTickCount(3);
  loadAxis_->setTitleText(QStringLiteral("CPU %"));
  fanChart_->addAxis(loadAxis_, Qt::AlignRight);

  auto hovered = [this](qint64 ms, QPoint at) { ShowHover(ms, at); };
  tempView_ = new HoverView(tempChart_, hovered);
  tempView_->setObjectName(QStringLiteral("TemperatureChartView"));
  fanView_ = new HoverView(fanChart_, hovered);
  fanView_->setObjectName(QStringLiteral("FanChartView"));
  tempView_->setMinimumHeight(300);
  fanView_->setMinimumHeight(160);

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Show the last")));
  top->addWidget(spanBox_);
  top->addStretch(1);
  top->addWidget(exportButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(tempView_, 3);
  layout->addWidget(fanView_, 1);
  layout->addWidget(hoverLabel_);
  resize(960, 640);

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
  for (int n : shown) {
    const QColor colour = kSensorColours[n];
    const QString label = SensorLabel(sensors, n);
    QLineSeries* line = AddLine(tempChart_, label, colour, Qt::SolidLine, 2, tempTime_, tempAxis_, true);
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
    const QString names[2] = {label + QStringLiteral(" warning limit"), label + QStringLiteral(" shut-down limit")};
    for (int k = 0; k < 2; ++k) {
      QLineSeries* limit = AddLine(tempChart_, names[k], colour, k == 0 ? Qt::DashLine : Qt::DashDotLine,
                                   k == 0 ? 1.2 : 1.6, tempTime_, tempAxis_, false);
      limit->replace({QPointF(static_cast<double>(from), limits[k]),
                      QPointF(static_cast<double>(nowMs_), limits[k])});
      lo = std::min(lo, double(limits[k]));
      hi = std::max(hi, double(limits[k]));
    }
  }
  FitAxis(tempAxis_, lo, hi, 3);
  // What the dashed lines are, once for all sensors.
  AddLine(tempChart_, QStringLiteral("Warning limit"), Qt::gray, Qt::DashLine, 1.2, tempTime_, tempAxis_, true);
  AddLine(tempChart_, QStringLiteral("Shut-down limit"), Qt::gray, Qt::DashDotLine, 1.6, tempTime_, tempAxis_, true);

  int maxRpm = 0;
  QList<QPointF> front, rear, load;
  for (const HistoryPoint& p : drawn) {
    const double x = static_cast<double>(p.ms);
    front.append(QPointF(x, p.frontRpm));
    rear.append(QPointF(x, p.rearRpm));
    load.append(QPointF(x, p.cpuLoad));
    maxRpm = std::max({maxRpm, p.frontRpm, p.rearRpm});
  }
  FitAxis(rpmAxis_, 0, std::max(500, maxRpm), 0);
  AddLine(fanChart_, QStringLiteral("Front fan"), QColor(0x1f, 0x5f, 0xbf), Qt::SolidLine, 1.5, fanTime_, rpmAxis_,
          true)
      ->replace(front);
  AddLine(fanChart_, QStringLiteral("Rear fan"), QColor(0x2a, 0x9d, 0x3f), Qt::SolidLine, 1.5, fanTime_, rpmAxis_,
          true)
      ->replace(rear);
  AddLine(fanChart_, QStringLiteral("CPU load"), QColor(0xc0, 0x39, 0x2b), Qt::SolidLine, 1, fanTime_, loadAxis_,
          true)
      ->replace(load);

  const std::vector<TimeSpan> faults = FaultSpans(points_, kFaultHoldMs);
  const std::vector<TimeSpan> warnings =
      FlagSpans(points_, kFaultHoldMs, [](const HistoryPoint& p) { return p.warning && !IsFaultCode(p.state); });
  const std::vector<TimeSpan> lost = LostLinkSpans(events_, from, nowMs_);
  AddShade(tempChart_, QStringLiteral("Warning"), kWarningShade, warnings, tempTime_, tempAxis_);
  AddShade(tempChart_, QStringLiteral("Fault"), kFaultShade, faults, tempTime_, tempAxis_);
  AddShade(tempChart_, QStringLiteral("Link lost"), kLostShade, lost, tempTime_, tempAxis_);
  AddShade(fanChart_, QStringLiteral("Fault"), kFaultShade, faults, fanTime_, rpmAxis_);
  AddShade(fanChart_, QStringLiteral("Link lost"), kLostShade, lost, fanTime_, rpmAxis_);
  AlignPlotAreas();
}

void HistoryWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  AlignPlotAreas();
}

void HistoryWindow::AlignPlotAreas() {
  // The two charts share a time axis only if their plot areas start and end
  // at the same x; left to themselves, they follow their labels' widths.
  if (alignQueued_) return;
  alignQueued_ = true;
  QTimer::singleShot(0, this, [this] {
    alignQueued_ = false;
    for (QChart* c : {tempChart_, fanChart_}) {
      const QRectF whole(QPointF(0, 0), c->size());
      const QRectF plot = whole.adjusted(kPlotLeft, kPlotTop, -kPlotRight, -kPlotBottom);
      if (plot.width() > 0 && plot.height() > 0 && c->plotArea() != plot) c->setPlotArea(plot);
    }
  });
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
