// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimUnitWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QWindow>
#include <QVBoxLayout>

namespace unitsim {

namespace {

constexpr int kRefreshMs = 500;
constexpr char16_t kDegree = u'\u00B0';
constexpr int kModelChoice = -1;

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; 0 marks the holes.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

const int kStateCodes[] = {0, 1, 2, 3, 4, 5, 6, 7, 80, 81, 82, 83, 84, 85, 86, 87};

QString TemperatureText(double celsius) {
  if (celsius <= -99.0) return QStringLiteral("no reading");
  return QStringLiteral("%1 %2C").arg(celsius, 0, 'f', 1).arg(QChar(kDegree));
}

QString ClockText(double seconds) {
  const qint64 s = static_cast<qint64>(seconds);
  return QStringLiteral("%1:%2:%3")
      .arg(s / 3600)
      .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

QString DecodeFrontPanelBytes(const std::string& bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b == 0xB2 || b == 0xDF) {
      text += QChar(kDegree);
    } else if (b < 0x20 || b == 0x7F) {
      text += QLatin1Char(' ');
    } else if (b >= 0x80 && b <= 0x9F) {
      const char16_t u = kCp1252High[b - 0x80];
      text += u != 0 ? QChar(u) : QChar(QChar::ReplacementCharacter);
    } else {
      text += QChar(static_cast<char16_t>(b));
    }
  }
  return text;
}

QString UnitStateName(int code) {
  switch (code) {
    case 0: return QStringLiteral("POWER UP");
    case 1: return QStringLiteral("Cooling");
    case 2: return QStringLiteral("BOOT DELAY");
    case 3: return QStringLiteral("Holding");
    case 4: return QStringLiteral("Recovering");
    case 5: return QStringLiteral("POWER DOWN");
    case 6: return QStringLiteral("IDLE");
    case 7: return QStringLiteral("REST");
    case 80: return QStringLiteral("TO SLOW");
    case 81: return QStringLiteral("RESTART DELAY");
    case 82: return QStringLiteral("FAN FAILED");
    case 83: return QStringLiteral("SENSOR FAILED");
    case 84: return QStringLiteral("CRITICAL TEMPERATURE");
    case 85: return QStringLiteral("TEMPERATURE FAILURE");
    case 86: return QStringLiteral("STOP FAILURE");
    case 87: return QStringLiteral("SWITCH ERROR");
    default: return QStringLiteral("unknown");
  }
}

SimUnitWindow::SimUnitWindow(SimulatedUnit& unit, bool followWallClock, QWidget* parent)
    : QWidget(parent, Qt::Window), unit_(unit), followWallClock_(followWallClock), timer_(new QTimer(this)) {
  setWindowTitle(QStringLiteral("Simulated unit"));
  if (followWallClock_) unit_.FollowWallClock();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(BuildFrontPanel());
  layout->addWidget(BuildReadings());
  layout->addWidget(BuildControls());
  layout->addStretch(1);

  timer_->setInterval(kRefreshMs);
  connect(timer_, &QTimer::timeout, this, &SimUnitWindow::Tick);
  timer_->start();
  Refresh();
}

void SimUnitWindow::Tick() {
  if (followWallClock_) unit_.SyncToWallClock();
  Refresh();
}

void SimUnitWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!watchingExposure_ && windowHandle()) {
    windowHandle()->installEventFilter(this);
    watchingExposure_ = true;
  }
}

void SimUnitWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  timer_->stop();
}

// Nobody sees a window that is not on screen (unmapped, minimised, covered
// by a locked screen): its refresh sleeps then, since waking twice a second
// to redraw it would be most of what the whole program costs at rest. The
// model itself keeps time on every exchange with it.
bool SimUnitWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == windowHandle() && event->type() == QEvent::Expose) {
    if (!windowHandle()->isExposed()) {
      timer_->stop();
    } else if (!timer_->isActive()) {
      Tick();
      timer_->start();
    }
  }
  return QWidget::eventFilter(watched, event);
}

QWidget* SimUnitWindow::BuildFrontPanel() {
  auto* frame = new QFrame;
  frame->setObjectName(QStringLiteral("FrontPanel"));
  frame->setStyleSheet(QStringLiteral(
      "#FrontPanel { background: #2b3a12; border-radius: 6px; }"
      "#FrontPanel QLabel { background: #a8c64e; color: #17220a; padding: 0 6px; }"));
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSizeF(font.pointSizeF() * 1.6);
  font.setBold(true);

  auto* lines = new QVBoxLayout(frame);
  lines->setContentsMargins(10, 10, 10, 10);
  lines->setSpacing(0);
  line1_ = new QLabel;
  line2_ = new QLabel;
  line1_->setObjectName(QStringLiteral("FrontPanelLine1"));
  line2_->setObjectName(QStringLiteral("FrontPanelLine2"));
  for (QLabel* line : {line1_, line2_}) {
    line->setFont(font);
    line->setTextFormat(Qt::PlainText);
    lines->addWidget(line);
  }
  return frame;
}

QWidget* SimUnitWindow::BuildReadings() {
  auto* box = new QGroupBox(QStringLiteral("Readings"));
  auto* grid = new QGridLayout(box);
  auto addRow = [grid](int row, int column, const QString& caption) {
    auto* value = new QLabel;
    grid->addWidget(new QLabel(caption), row, column);
    grid->addWidget(value, row, column + 1);
    return value;
  };
  temperatures_[0] = addRow(0, 0, QStringLiteral("Evaporator"));
  for (int s = 1; s < 5; ++s) temperatures_[s] = addRow(s, 0, QStringLiteral("Sensor %1").arg(s + 1));
  state_ = addRow(0, 2, QStringLiteral("State"));
  state_->setObjectName(QStringLiteral("UnitStateLabel"));
  fans_[0] = addRow(1, 2, QStringLiteral("Front fan"));
  fans_[1] = addRow(2, 2, QStringLiteral("Rear fan"));
  hours_ = addRow(3, 2, QStringLiteral("Operating hours"));
  modelTime_ = addRow(4, 2, QStringLiteral("Running for"));
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  grid->setHorizontalSpacing(12);
  return box;
}

QWidget* SimUnitWindow::BuildControls() {
  auto* box = new QGroupBox(QStringLiteral("Impose"));
  auto* grid = new QGridLayout(box);

  forcedState_ = new QComboBox;
  forcedState_->addItem(QStringLiteral("model"), kModelChoice);
  for (int code : kStateCodes) forcedState_->addItem(QStringLiteral("%1  %2").arg(code).arg(UnitStateName(code)), code);
  connect(forcedState_, &QComboBox::activated, this, [this] { ApplyForcedState(); });
  grid->addWidget(new QLabel(QStringLiteral("State")), 0, 0);
  grid->addWidget(forcedState_, 0, 1, 1, 3);

  sensor_ = new QComboBox;
  sensor_->addItem(QStringLiteral("Evaporator"), 1);
  for (int s = 2; s <= 5; ++s) sensor_->addItem(QStringLiteral("Sensor %1").arg(s), s);
  sensorValue_ = new QDoubleSpinBox;
  sensorValue_->setRange(-90.0, 150.0);
  sensorValue_->setDecimals(1);
  sensorValue_->setSuffix(QStringLiteral(" %1C").arg(QChar(kDegree)));
  sensorValue_->setValue(30.0);
  auto* set = new QPushButton(QStringLiteral("Set"));
  auto* missing = new QPushButton(QStringLiteral("Missing"));
  auto* clear = new QPushButton(QStringLiteral("Clear"));
  auto chosenSensor = [this] { return sensor_->currentData().toInt(); };
  connect(set, &QPushButton::clicked, this, [this, chosenSensor] {
    unit_.SetSensor(chosenSensor(), sensorValue_->value());
    Refresh();
  });
  connect(missing, &QPushButton::clicked, this, [this, chosenSensor] {
    unit_.SetSensorMissing(chosenSensor());
    Refresh();
  });
  connect(clear, &QPushButton::clicked, this, [this, chosenSensor] {
    unit_.ClearSensor(chosenSensor());
    Refresh();
  });
  auto* sensorButtons = new QHBoxLayout;
  sensorButtons->addWidget(sensorValue_);
  sensorButtons->addWidget(set);
  sensorButtons->addWidget(missing);
  sensorButtons->addWidget(clear);
  grid->addWidget(new QLabel(QStringLiteral("Sensor")), 1, 0);
  grid->addWidget(sensor_, 1, 1);
  grid->addLayout(sensorButtons, 1, 2, 1, 2);

  fanStopped_[0] = new QCheckBox(QStringLiteral("Front stopped"));
  fanStopped_[1] = new QCheckBox(QStringLiteral("Rear stopped"));
  for (int fan = 0; fan < 2; ++fan) {
    connect(fanStopped_[fan], &QCheckBox::toggled, this, [this, fan](bool on) {
      unit_.StopFan(fan + 1, on);
      Refresh();
    });
  }
  grid->addWidget(new QLabel(QStringLiteral("Fans")), 2, 0);
  grid->addWidget(fanStopped_[0], 2, 1);
  grid->addWidget(fanStopped_[1], 2, 2);

  malformation_ = new QComboBox;
  malformation_->addItem(QStringLiteral("27 bytes"), static_cast<int>(SimulatedUnit::Malformation::Short27));
  malformation_->addItem(QStringLiteral("29 bytes"), static_cast<int>(SimulatedUnit::Malformation::Long29));
  malformation_->addItem(QStringLiteral("wrong framing"), static_cast<int>(SimulatedUnit::Malformation::BadFraming));
  malformation_->addItem(QStringLiteral("number 04"), static_cast<int>(SimulatedUnit::Malformation::Number04));
  malformation_->addItem(QStringLiteral("number 05"), static_cast<int>(SimulatedUnit::Malformation::Number05));
  malformCount_ = new QSpinBox;
  malformCount_->setRange(1, 99);
  malformCount_->setSuffix(QStringLiteral(" reply(s)"));
  auto* malform = new QPushButton(QStringLiteral("Malform"));
  connect(malform, &QPushButton::clicked, this, [this] { ApplyMalformation(); });
  grid->addWidget(new QLabel(QStringLiteral("Replies")), 3, 0);
  grid->addWidget(malformation_, 3, 1);
  grid->addWidget(malformCount_, 3, 2);
  grid->addWidget(malform, 3, 3);

  cable_ = new QPushButton;
  connect(cable_, &QPushButton::clicked, this, [this] { ToggleCable(); });
  auto* powerCycle = new QPushButton(QStringLiteral("Power cycle"));
  connect(powerCycle, &QPushButton::clicked, this, [this] {
    unit_.PowerCycle();
    Refresh();
  });
  grid->addWidget(cable_, 4, 1);
  grid->addWidget(powerCycle, 4, 2);
  return box;
}

void SimUnitWindow::ApplyForcedState() {
  const int code = forcedState_->currentData().toInt();
  if (code == kModelChoice) {
    unit_.ClearForcedState();
  } else {
    unit_.ForceState(static_cast<std::uint8_t>(code));
  }
  Refresh();
}

void SimUnitWindow::ApplyMalformation() {
  const auto kind = static_cast<SimulatedUnit::Malformation>(malformation_->currentData().toInt());
  unit_.MalformNextReplies(kind, malformCount_->value());
}

void SimUnitWindow::ToggleCable() {
  if (unit_.IsPlugged()) {
    unit_.Unplug();
  } else {
    unit_.Plug();
  }
  Refresh();
}

void SimUnitWindow::Refresh() {
  line1_->setText(DecodeFrontPanelBytes(unit_.FrontPanelLine(1)));
  line2_->setText(DecodeFrontPanelBytes(unit_.FrontPanelLine(2)));
  const int state = unit_.State();
  state_->setText(QStringLiteral("%1  %2").arg(state).arg(UnitStateName(state)));
  for (int s = 0; s < 5; ++s) temperatures_[s]->setText(TemperatureText(unit_.Temperature(s + 1)));
  for (int fan = 0; fan < 2; ++fan) fans_[fan]->setText(QStringLiteral("%1 rpm").arg(unit_.FanRpm(fan + 1)));
  hours_->setText(QString::number(unit_.OperatingHours()));
  modelTime_->setText(ClockText(unit_.Now()));
  cable_->setText(unit_.IsPlugged() ? QStringLiteral("Unplug") : QStringLiteral("Plug in"));
}

}  // namespace unitsim
