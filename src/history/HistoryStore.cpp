// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/HistoryStore.h"

#include "logs/LogFile.h"
#include "monitor/StatusSample.h"
#include "monitor/UnitStates.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <atomic>

namespace {

// SQLite's own codes for a file that is not (or no longer) a database.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;

bool IsDamage(const QSqlError& error) {
  bool ok = false;
  const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
  return ok && (code == kSqliteCorrupt || code == kSqliteNotADatabase);
}

QVariant Nullable(const std::optional<int>& value) {
  return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Int));
}

QString NewConnectionName() {
  static std::atomic<int> counter{0};
  return QStringLiteral("history-%1").arg(++counter);
}

}  // namespace

HistoryPoint ToHistoryPoint(const StatusSample& sample) {
  HistoryPoint p;
  p.ms = sample.time.toMSecsSinceEpoch();
  p.state = sample.unitState;
  bool levelReached = false;
  for (int n = 0; n < 5; ++n) {
    p.celsius[n] = sample.sensors[n].celsius;
    if (sample.sensors[n].fitted && sample.sensors[n].level > 0) levelReached = true;
  }
  p.frontRpm = sample.frontFanRpm;
  p.rearRpm = sample.rearFanRpm;
  p.cpuMHz = sample.cpuClockMHz;
  p.cpuLoad = sample.cpuLoadPercent;
  p.warning = sample.warningRaised || levelReached || sample.statusColour != StatusColour::Green;
  p.shutdown = sample.shutdownArmed;
  return p;
}

HistorySensors ToHistorySensors(const StatusSample& sample) {
  HistorySensors out;
  for (int n = 0; n < 5; ++n) {
    const SensorSample& s = sample.sensors[n];
    out[n] = {s.name, s.fitted, s.higher, s.warningCelsius, s.shutdownCelsius};
  }
  return out;
}

QString DefaultHistoryPath() { return DefaultLogFolder() + QStringLiteral("history.sqlite"); }

HistoryStore::HistoryStore(QString path, std::function<void(const QString&)> onFailure)
    : path_(std::move(path)), connection_(NewConnectionName()), onFailure_(std::move(onFailure)) {
  if (!path_.isEmpty()) Open();
}

HistoryStore::~HistoryStore() {
  insert_.reset();
  if (db_.isValid()) db_.close();
  db_ = QSqlDatabase();
  QSqlDatabase::removeDatabase(connection_);
}

void HistoryStore::Open() {
  const QString folder = QFileInfo(path_).absolutePath();
  if (!QDir().mkpath(folder)) {
    failure_ = QStringLiteral("cannot create the folder %1").arg(folder);
    if (onFailure_) onFailure_(failure_);
    return;
  }
  db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
  db_.setDatabaseName(path_);
  if (!db_.open()) {
    Fail(QStringLiteral("cannot open %1").arg(path_), db_.lastError());
    return;
  }
  // WAL: a commit is one append to the log, and a process killed at any
  // moment leaves the file as of its last commit. NORMAL skips the flush to
  // disk at each commit; what a killed process wrote is still in the
  // system's cache, and only a power cut could cost the last few samples.
  QSqlQuery mode(db_);
  if (!mode.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !mode.next() ||
      mode.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0) {
    Fail(QStringLiteral("cannot use %1").arg(path_), mode.lastError());
    return;
  }
  mode.finish();
  if (!Exec(QStringLiteral("PRAGMA synchronous=NORMAL")) ||
      !Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS samples (t INTEGER PRIMARY KEY, state INTEGER, "
                           "t1 INTEGER, t2 INTEGER, t3 INTEGER, t4 INTEGER, t5 INTEGER, "
                           "front INTEGER, rear INTEGER, mhz INTEGER, load INTEGER, flags INTEGER)")) ||
      !Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS link (t INTEGER, up INTEGER)")) ||
      !Exec(QStringLiteral("CREATE INDEX IF NOT EXISTS link_t ON link (t)")) ||
      !Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS sensors (number INTEGER PRIMARY KEY, name TEXT, "
                           "fitted INTEGER, higher INTEGER, warning INTEGER, shutdown INTEGER)"))) {
    return;
  }
  LoadSensors();
}

bool HistoryStore::Exec(const QString& sql) {
  QSqlQuery q(db_);
  if (q.exec(sql)) return true;
  Fail(QStringLiteral("cannot write %1").arg(path_), q.lastError());
  return false;
}

void HistoryStore::Fail(const QString& what, const QSqlError& error) {
  const bool damaged = IsDamage(error);
  QString reason = what;
  const QString detail = error.databaseText().isEmpty() ? error.text() : error.databaseText();
  if (!detail.trimmed().isEmpty()) reason += QStringLiteral(" (") + detail.trimmed() + QLatin1Char(')');
  // Closed, not removed: queries of the caller may still hold the
  // connection; the destructor lets go of it.
  insert_.reset();
  if (db_.isValid()) db_.close();
  if (damaged) {
    // Kept for whoever wants to look into it or rescue it: the log of
    // changes goes with it under the name SQLite looks for beside it.
    const QString aside =
        path_ + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (QFile::rename(path_, aside)) {
      movedAside_ = aside;
      for (const char* companion : {"-wal", "-shm"}) {
        const QString from = path_ + QLatin1String(companion);
        if (QFile::exists(from)) QFile::rename(from, aside + QLatin1String(companion));
      }
      reason = QStringLiteral("%1 is damaged and was moved aside as %2")
                   .arg(QFileInfo(path_).fileName(), QFileInfo(aside).fileName());
    }
  }
  failure_ = reason;
  if (onFailure_) onFailure_(failure_);
}

void HistoryStore::LoadSensors() {
  QSqlQuery q(db_);
  if (!q.exec(QStringLiteral("SELECT number, name, fitted, higher, warning, shutdown FROM sensors"))) {
    Fail(QStringLiteral("cannot read %1").arg(path_), q.lastError());
    return;
  }
  while (q.next()) {
    const int n = q.value(0).toInt();
    if (n < 1 || n > 5) continue;
    sensors_[n - 1] = {q.value(1).toString(), q.value(2).toBool(), q.value(3).toBool(), q.value(4).toInt(),
                       q.value(5).toInt()};
    sensorsKnown_ = true;
  }
}

void HistoryStore::WriteSensors() {
  QSqlQuery q(db_);
  q.prepare(QStringLiteral("INSERT OR REPLACE INTO sensors VALUES (?, ?, ?, ?, ?, ?)"));
  for (int n = 0; n < 5; ++n) {
    const HistorySensor& s = sensors_[n];
    q.addBindValue(n + 1);
    q.addBindValue(s.name);
    q.addBindValue(s.fitted ? 1 : 0);
    q.addBindValue(s.higher ? 1 : 0);
    q.addBindValue(s.warningCelsius);
    q.addBindValue(s.shutdownCelsius);
    if (!q.exec()) {
      Fail(QStringLiteral("cannot write %1").arg(path_), q.lastError());
      return;
    }
  }
}

void HistoryStore::Append(const HistoryPoint& point, const HistorySensors& sensors) {
  // Memory stays in time order even when the clock was set back.
  while (!memory_.empty() && memory_.back().ms >= point.ms) memory_.pop_back();
  memory_.push_back(point);
  const bool sensorsChanged = !sensorsKnown_ || sensors != sensors_;
  sensors_ = sensors;
  sensorsKnown_ = true;

  if (Saving()) {
    // One statement commits on its own; new sensor details go in with the
    // sample they came with, so that both land or neither.
    if (sensorsChanged && !db_.transaction()) {
      Fail(QStringLiteral("cannot write %1").arg(path_), db_.lastError());
    } else {
      if (!insert_) {
        insert_ = std::make_unique<QSqlQuery>(db_);
        insert_->prepare(QStringLiteral("INSERT OR REPLACE INTO samples VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
      }
      QSqlQuery& q = *insert_;
      int column = 0;
      q.bindValue(column++, point.ms);
      q.bindValue(column++, static_cast<int>(point.state));
      for (const std::optional<int>& c : point.celsius) q.bindValue(column++, Nullable(c));
      q.bindValue(column++, point.frontRpm);
      q.bindValue(column++, point.rearRpm);
      q.bindValue(column++, point.cpuMHz);
      q.bindValue(column++, point.cpuLoad);
      q.bindValue(column++, (point.warning ? 1 : 0) | (point.shutdown ? 2 : 0));
      if (!q.exec()) {
        const QSqlError error = q.lastError();
        q.finish();
        if (sensorsChanged) db_.rollback();
        Fail(QStringLiteral("cannot write %1").arg(path_), error);
      } else {
        q.finish();
        if (sensorsChanged) {
          WriteSensors();
          if (Saving() && !db_.commit()) Fail(QStringLiteral("cannot write %1").arg(path_), db_.lastError());
        }
      }
    }
  }
  if (point.ms - lastPruneMs_ >= kPruneEveryMs) Prune(point.ms);
}

void HistoryStore::NoteLink(qint64 ms, bool up) {
  memoryLinks_.push_back({ms, up});
  if (!Saving()) return;
  QSqlQuery q(db_);
  q.prepare(QStringLiteral("INSERT INTO link VALUES (?, ?)"));
  q.addBindValue(ms);
  q.addBindValue(up ? 1 : 0);
  if (!q.exec()) Fail(QStringLiteral("cannot write %1").arg(path_), q.lastError());
}

void HistoryStore::Prune(qint64 nowMs) {
  lastPruneMs_ = nowMs;
  const qint64 memoryCut = nowMs - kMemoryMs;
  while (!memory_.empty() && memory_.front().ms < memoryCut) memory_.pop_front();
  // The last change before the cut tells how the link stood at the cut.
  const auto firstKept = std::find_if(memoryLinks_.begin(), memoryLinks_.end(),
                                      [&](const LinkEvent& e) { return e.ms >= memoryCut; });
  if (firstKept - memoryLinks_.begin() > 1) memoryLinks_.erase(memoryLinks_.begin(), firstKept - 1);
  if (!Saving()) return;
  const qint64 cut = nowMs - kRetentionMs;
  QSqlQuery q(db_);
  q.prepare(QStringLiteral("DELETE FROM samples WHERE t < ?"));
  q.addBindValue(cut);
  if (!q.exec()) {
    Fail(QStringLiteral("cannot write %1").arg(path_), q.lastError());
    return;
  }
  q.prepare(QStringLiteral("DELETE FROM link WHERE t < ?"));
  q.addBindValue(cut);
  if (!q.exec()) Fail(QStringLiteral("cannot write %1").arg(path_), q.lastError());
}

std::vector<HistoryPoint> HistoryStore::Read(qint64 fromMs, qint64 toMs) const {
  std::vector<HistoryPoint> out;
  if (!Saving()) {
    for (const HistoryPoint& p : memory_) {
      if (p.ms >= fromMs && p.ms < toMs) out.push_back(p);
    }
    return out;
  }
  QSqlQuery q(db_);
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT * FROM samples WHERE t >= ? AND t < ? ORDER BY t"));
  q.addBindValue(fromMs);
  q.addBindValue(toMs);
  if (!q.exec()) return out;
  while (q.next()) {
    HistoryPoint p;
    p.ms = q.value(0).toLongLong();
    p.state = static_cast<std::uint8_t>(q.value(1).toInt());
    for (int n = 0; n < 5; ++n) {
      const QVariant v = q.value(2 + n);
      if (!v.isNull()) p.celsius[n] = v.toInt();
    }
    p.frontRpm = q.value(7).toInt();
    p.rearRpm = q.value(8).toInt();
    p.cpuMHz = q.value(9).toInt();
    p.cpuLoad = q.value(10).toInt();
    const int flags = q.value(11).toInt();
    p.warning = flags & 1;
    p.shutdown = flags & 2;
    out.push_back(p);
  }
  return out;
}

std::vector<LinkEvent> HistoryStore::LinkEvents(qint64 fromMs, qint64 toMs) const {
  std::vector<LinkEvent> out;
  if (!Saving()) {
    for (const LinkEvent& e : memoryLinks_) {
      if (e.ms >= toMs) break;
      if (e.ms < fromMs) out.clear();
      out.push_back(e);
    }
    return out;
  }
  QSqlQuery q(db_);
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT t, up FROM (SELECT t, up, rowid AS r FROM link WHERE t < ? "
                           "ORDER BY t DESC, rowid DESC LIMIT 1) UNION ALL "
                           "SELECT t, up FROM (SELECT t, up, rowid AS r FROM link WHERE t >= ? AND t < ? "
                           "ORDER BY t, rowid)"));
  q.addBindValue(fromMs);
  q.addBindValue(fromMs);
  q.addBindValue(toMs);
  if (!q.exec()) return out;
  while (q.next()) out.push_back({q.value(0).toLongLong(), q.value(1).toBool()});
  return out;
}

std::vector<TimeSpan> LostLinkSpans(const std::vector<LinkEvent>& events, qint64 fromMs, qint64 toMs) {
  std::vector<TimeSpan> spans;
  bool down = false;
  qint64 downSince = 0;
  for (const LinkEvent& e : events) {
    if (!e.up && !down) {
      down = true;
      downSince = std::max(e.ms, fromMs);
    } else if (e.up && down) {
      if (e.ms > downSince) spans.push_back({downSince, std::min(e.ms, toMs)});
      down = false;
    }
  }
  if (down && toMs > downSince) spans.push_back({downSince, toMs});
  return spans;
}

std::vector<TimeSpan> FlagSpans(const std::vector<HistoryPoint>& points, qint64 gapMs,
                                bool (*flagged)(const HistoryPoint&)) {
  std::vector<TimeSpan> spans;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (!flagged(points[i])) continue;
    const qint64 from = points[i].ms;
    qint64 to = from + gapMs;
    if (i + 1 < points.size()) to = std::min(to, points[i + 1].ms);
    if (!spans.empty() && spans.back().toMs >= from) {
      spans.back().toMs = std::max(spans.back().toMs, to);
    } else {
      spans.push_back({from, to});
    }
  }
  return spans;
}

std::vector<TimeSpan> FaultSpans(const std::vector<HistoryPoint>& points, qint64 gapMs) {
  return FlagSpans(points, gapMs, [](const HistoryPoint& p) { return IsFaultCode(p.state); });
}
