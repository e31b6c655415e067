// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusReport.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QStringList>

#include <cmath>

namespace {

QJsonValue OptionalInt(const std::optional<int>& v) { return v ? QJsonValue(*v) : QJsonValue(); }

// Seconds with a tenth, so that a script sees the age grow between polls.
double AgeSeconds(const QDateTime& from, const QDateTime& to) {
  return std::round(static_cast<double>(from.msecsTo(to)) / 100.0) / 10.0;
}

QJsonObject SensorJson(const SensorSample& s) {
  return {{QStringLiteral("number"), s.number},
          {QStringLiteral("name"), s.name},
          {QStringLiteral("fitted"), s.fitted},
          {QStringLiteral("celsius"), OptionalInt(s.celsius)},
          {QStringLiteral("level"), s.level},
          {QStringLiteral("warning_celsius"), s.warningCelsius},
          {QStringLiteral("shutdown_celsius"), s.shutdownCelsius}};
}

// --- Prometheus text -------------------------------------------------------

QString LabelValue(QString v) {
  v.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  v.replace(QLatin1Char('"'), QStringLiteral("\\\""));
  v.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
  return v;
}

QString Number(double v) { return QString::number(v, 'g', 15); }

class MetricsText {
 public:
  // Opens a family; its HELP and TYPE lines appear with its first sample
  // only, so that a family without samples leaves nothing behind.
  void Family(const char* name, const char* help) {
    name_ = QString::fromLatin1(name);
    help_ = QString::fromLatin1(help);
    headerWritten_ = false;
  }
  void Sample(const QStringList& labels, double value) {
    if (!headerWritten_) {
      out_ += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n").arg(name_, help_);
      headerWritten_ = true;
    }
    out_ += name_;
    if (!labels.isEmpty()) out_ += QLatin1Char('{') + labels.join(QLatin1Char(',')) + QLatin1Char('}');
    out_ += QLatin1Char(' ') + Number(value) + QLatin1Char('\n');
  }
  void Sample(double value) { Sample({}, value); }
  QByteArray Bytes() const { return out_.toUtf8(); }

 private:
  QString out_, name_, help_;
  bool headerWritten_ = false;
};

QString Label(const char* name, const QString& value) {
  return QString::fromLatin1(name) + QStringLiteral("=\"") + LabelValue(value) + QLatin1Char('"');
}

QStringList SensorLabels(const SensorSample& s) {
  return {Label("sensor", QString::number(s.number)), Label("name", s.name)};
}

// --- table -----------------------------------------------------------------

QString Or(const QJsonValue& v, const QString& none, const QString& unit = QString()) {
  if (v.isNull() || v.isUndefined()) return none;
  const QString text = v.isString() ? v.toString() : QString::number(v.toDouble(), 'g', 12);
  return unit.isEmpty() ? text : text + QLatin1Char(' ') + unit;
}

QString Row(const QString& label, const QString& value) {
  return label.leftJustified(16) + value + QLatin1Char('\n');
}

}  // namespace

QJsonObject StatusJson(const StatusView& view) {
  const StatusSample& s = view.sample;
  QJsonObject o{{QStringLiteral("version"), view.version},
                {QStringLiteral("source"), view.source},
                {QStringLiteral("link_up"), view.linkUp}};
  if (!view.HasReply()) {
    // Nothing decoded yet: every reading is unknown, not zero.
    for (const char* key : {"last_reply", "age_seconds", "unit_state", "unit_caption", "status_caption",
                            "status_colour", "front_fan_rpm", "rear_fan_rpm", "cpu_clock_mhz",
                            "cpu_load_percent", "running_hours", "shutdown_armed",
                            "shutdown_seconds_left"})
      o.insert(QLatin1String(key), QJsonValue());
    o.insert(QStringLiteral("sensors"), QJsonArray());
    return o;
  }
  // With the offset, so that a reader elsewhere knows the moment exactly.
  o.insert(QStringLiteral("last_reply"),
           s.time.toOffsetFromUtc(s.time.offsetFromUtc()).toString(Qt::ISODateWithMs));
  o.insert(QStringLiteral("age_seconds"), AgeSeconds(s.time, view.now));
  o.insert(QStringLiteral("unit_state"), s.unitState);
  o.insert(QStringLiteral("unit_caption"), s.unitCaption);
  o.insert(QStringLiteral("status_caption"), s.statusCaption);
  o.insert(QStringLiteral("status_colour"), StatusColourName(s.statusColour));
  QJsonArray sensors;
  for (const SensorSample& sensor : s.sensors) sensors.append(SensorJson(sensor));
  o.insert(QStringLiteral("sensors"), sensors);
  o.insert(QStringLiteral("front_fan_rpm"), s.frontFanRpm);
  o.insert(QStringLiteral("rear_fan_rpm"), s.rearFanRpm);
  o.insert(QStringLiteral("cpu_clock_mhz"), s.cpuClockMHz);
  o.insert(QStringLiteral("cpu_load_percent"), s.cpuLoadPercent);
  o.insert(QStringLiteral("running_hours"), s.runningHours < 0 ? QJsonValue() : QJsonValue(s.runningHours));
  o.insert(QStringLiteral("shutdown_armed"), s.shutdownArmed);
  o.insert(QStringLiteral("shutdown_seconds_left"), s.shutdownArmed ? s.shutdownSecondsLeft : 0);
  return o;
}

QString StatusTable(const QJsonObject& o) {
  const QString none = QStringLiteral("-");
  QString t = QStringLiteral("Vornalith Control Centre ") + o.value(QStringLiteral("version")).toString() +
              QLatin1Char('\n');
  QString reply = Or(o.value(QStringLiteral("last_reply")), QStringLiteral("none yet"));
  if (o.value(QStringLiteral("age_seconds")).isDouble())
    reply += QStringLiteral(" (%1 s ago)").arg(o.value(QStringLiteral("age_seconds")).toDouble(), 0, 'f', 1);
  if (o.value(QStringLiteral("source")).toString() == QStringLiteral("guard"))
    t += Row(QStringLiteral("Watched by"), QStringLiteral("the guard service"));
  t += Row(QStringLiteral("Last reply"), reply);
  t += Row(QStringLiteral("Link"), o.value(QStringLiteral("link_up")).toBool() ? QStringLiteral("up")
                                                                               : QStringLiteral("lost"));
  t += Row(QStringLiteral("Unit state"), Or(o.value(QStringLiteral("unit_state")), none) + QLatin1Char(' ') +
                                             Or(o.value(QStringLiteral("unit_caption")), QString()));
  t += Row(QStringLiteral("Status"), Or(o.value(QStringLiteral("status_caption")), none) +
                                         QStringLiteral(" (") +
                                         Or(o.value(QStringLiteral("status_colour")), none) +
                                         QLatin1Char(')'));
  const QJsonArray sensors = o.value(QStringLiteral("sensors")).toArray();
  if (!sensors.isEmpty()) {
    t += QStringLiteral("Sensor  Name              Temperature  Level  Warning  Shut-down\n");
    for (const QJsonValue& v : sensors) {
      const QJsonObject s = v.toObject();
      if (!s.value(QStringLiteral("fitted")).toBool()) continue;
      t += QString::number(s.value(QStringLiteral("number")).toInt()).leftJustified(8) +
           s.value(QStringLiteral("name")).toString().leftJustified(18) +
           Or(s.value(QStringLiteral("celsius")), QStringLiteral("no reading"), QStringLiteral("°C"))
               .leftJustified(13) +
           QString::number(s.value(QStringLiteral("level")).toInt()).leftJustified(7) +
           Or(s.value(QStringLiteral("warning_celsius")), none, QStringLiteral("°C")).leftJustified(9) +
           Or(s.value(QStringLiteral("shutdown_celsius")), none, QStringLiteral("°C")) + QLatin1Char('\n');
    }
  }
  t += Row(QStringLiteral("Fans"), Or(o.value(QStringLiteral("front_fan_rpm")), none, QStringLiteral("rpm")) +
                                       QStringLiteral(" front, ") +
                                       Or(o.value(QStringLiteral("rear_fan_rpm")), none, QStringLiteral("rpm")) +
                                       QStringLiteral(" rear"));
  t += Row(QStringLiteral("CPU"), Or(o.value(QStringLiteral("cpu_clock_mhz")), none, QStringLiteral("MHz")) +
                                      QStringLiteral(", load ") +
                                      Or(o.value(QStringLiteral("cpu_load_percent")), none, QStringLiteral("%")));
  t += Row(QStringLiteral("Running hours"), Or(o.value(QStringLiteral("running_hours")), none));
  const bool armed = o.value(QStringLiteral("shutdown_armed")).toBool();
  t += Row(QStringLiteral("Shutdown"),
           armed ? QStringLiteral("ARMED, %1 s left").arg(o.value(QStringLiteral("shutdown_seconds_left")).toInt())
                 : QStringLiteral("not armed"));
  return t;
}

QByteArray PrometheusText(const StatusView& view) {
  const StatusSample& s = view.sample;
  MetricsText m;
  m.Family("vornalith_link_up", "Whether the control centre's link to the cooling unit is up (1) or lost (0).");
  m.Sample(view.linkUp ? 1 : 0);
  if (!view.HasReply()) return m.Bytes();

  // Sensors nobody fitted have no meaningful reading, level or limits.
  m.Family("vornalith_temperature_celsius", "Temperature of a sensor of the cooling unit in degrees Celsius.");
  for (const SensorSample& sensor : s.sensors)
    if (sensor.fitted && sensor.celsius) m.Sample(SensorLabels(sensor), *sensor.celsius);
  m.Family("vornalith_sensor_level",
           "Level of a sensor: 0 normal, 1 warning limit reached, 2 shut-down limit reached.");
  for (const SensorSample& sensor : s.sensors)
    if (sensor.fitted) m.Sample(SensorLabels(sensor), sensor.level);
  m.Family("vornalith_limit_celsius", "Warning and shut-down limits of a sensor in degrees Celsius.");
  for (const SensorSample& sensor : s.sensors) {
    if (!sensor.fitted) continue;
    m.Sample(SensorLabels(sensor) << Label("kind", QStringLiteral("warning")), sensor.warningCelsius);
    m.Sample(SensorLabels(sensor) << Label("kind", QStringLiteral("shutdown")), sensor.shutdownCelsius);
  }
  m.Family("vornalith_fan_rpm", "Speed of the cooling unit's fans in revolutions per minute.");
  m.Sample({Label("fan", QStringLiteral("front"))}, s.frontFanRpm);
  m.Sample({Label("fan", QStringLiteral("rear"))}, s.rearFanRpm);
  m.Family("vornalith_unit_state", "The cooling unit's state or fault code (80 and above are faults).");
  m.Sample(s.unitState);
  m.Family("vornalith_shutdown_armed", "Whether an emergency shutdown of the computer is armed.");
  m.Sample(s.shutdownArmed ? 1 : 0);
  m.Family("vornalith_running_hours", "The cooling unit's running hours.");
  if (s.runningHours >= 0) m.Sample(s.runningHours);
  m.Family("vornalith_last_reply_timestamp_seconds",
           "When the last status reply of the cooling unit was decoded, in seconds since the epoch.");
  m.Sample(static_cast<double>(s.time.toMSecsSinceEpoch()) / 1000.0);
  m.Family("vornalith_cpu_load_ratio", "The computer's CPU load, 0 to 1.");
  m.Sample(s.cpuLoadPercent / 100.0);
  m.Family("vornalith_cpu_clock_hertz", "The computer's CPU clock rate in hertz.");
  if (s.cpuClockMHz > 0) m.Sample(s.cpuClockMHz * 1e6);
  return m.Bytes();
}
