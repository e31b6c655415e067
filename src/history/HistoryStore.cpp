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
#include <map>

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

HistoryStore::HistoryStore(QString path, std::function<void(const QString&)> onFailure,
                           std::function<void()> onResumed)
    : path_(std::move(path)),
      connection_(NewConnectionName()),
      onFailure_(std::move(onFailure)),
      onResumed_(std::move(onResumed)) {
  if (!path_.isEmpty()) Open();
}

HistoryStore::~HistoryStore() {
  // What memory holds is gone with the process: the disk may have been freed
  // since the last try. Told to no one, the window is going.
  onFailure_ = nullptr;
  onResumed_ = nullptr;
  if (!path_.isEmpty() && !Saving() && (unsavedFromMs_ || !unsavedLinks_.empty())) Save(lastTryMs_, true);
  insert_.reset();
  if (db_.isValid()) db_.close();
  db_ = QSqlDatabase();
  QSqlDatabase::removeDatabase(connection_);
}

bool HistoryStore::Open() {
  const QString folder = QFileInfo(path_).absolutePath();
  if (!QDir().mkpath(folder)) {
    GiveUp(QStringLiteral("cannot create the folder %1").arg(folder));
    return false;
  }
  if (!db_.isValid()) {
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db_.setDatabaseName(path_);
  }
  if (!db_.open()) {
    Fail(QStringLiteral("cannot open %1").arg(path_), db_.lastError());
    return false;
  }
  // Before anything is written: another program's database is left exactly
  // as it was, journal mode included.
  QSqlError error;
  switch (Identify(error)) {
    case Kind::Unreadable:
      Fail(QStringLiteral("cannot read %1").arg(path_), error);
      return false;
    case Kind::Foreign: {
      db_.close();
      const QString name = QFileInfo(path_).fileName();
      GiveUp(MoveAside(QStringLiteral("foreign"))
                 ? QStringLiteral("%1 is not this program's history and was moved aside as %2")
                       .arg(name, QFileInfo(movedAside_).fileName())
                 : QStringLiteral("%1 is not this program's history").arg(path_));
      return false;
    }
    case Kind::Ours:
      break;
  }
  // WAL: a commit is one append to the log, and a process killed at any
  // moment leaves the file as of its last commit. NORMAL skips the flush to
  // disk at each commit; what a killed process wrote is still in the
  // system's cache, and only a power cut could cost the last few samples.
  QSqlQuery mode(db_);
  if (!mode.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !mode.next() ||
      mode.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0) {
    Fail(QStringLiteral("cannot use %1").arg(path_), mode.lastError());
    return false;
  }
  mode.finish();
  if (!Exec(QStringLiteral("PRAGMA synchronous=NORMAL")) ||
      !Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS samples (t INTEGER PRIMARY KEY, state INTEGER, "
                           "t1 INTEGER, t2 INTEGER, t3 INTEGER, t4 INTEGER, t5 INTEGER, "
                           "front INTEGER, rear INTEGER, mhz INTEGER, load INTEGER, flags INTEGER)")) ||
      !Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS link (t INTEGER, up INTEGER)")) ||
      !Exec(QStringLiteral("CREATE INDEX IF NOT EXISTS link_t ON link (t)")) ||
      !Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS sensors (number INTEGER PRIMARY KEY, name TEXT, "
                           "fitted INTEGER, higher INTEGER, warning INTEGER, shutdown INTEGER)")) ||
      !Exec(QStringLiteral("PRAGMA application_id=%1").arg(kApplicationId))) {
    return false;
  }
  // A file started afresh lacks the sensors this run already knows.
  if (sensorsKnown_) {
    sensorsUnsaved_ = true;
  } else {
    LoadSensors();
  }
  return Saving();
}

HistoryStore::Kind HistoryStore::Identify(QSqlError& error) {
  QSqlQuery q(db_);
  if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next()) {
    error = q.lastError();
    return Kind::Unreadable;
  }
  const qint64 id = q.value(0).toLongLong();
  if (id == kApplicationId) return Kind::Ours;
  if (id != 0) return Kind::Foreign;
  // Unmarked: a new file, or one written before the mark, which then holds
  // nothing but these tables.
  static const std::map<QString, QStringList> kTables = {
      {QStringLiteral("samples"),
       {"t", "state", "t1", "t2", "t3", "t4", "t5", "front", "rear", "mhz", "load", "flags"}},
      {QStringLiteral("link"), {"t", "up"}},
      {QStringLiteral("sensors"), {"number", "name", "fitted", "higher", "warning", "shutdown"}},
  };
  if (!q.exec(QStringLiteral("SELECT type, lower(name), lower(tbl_name) FROM sqlite_master"))) {
    error = q.lastError();
    return Kind::Unreadable;
  }
  std::vector<QString> tables;
  while (q.next()) {
    const auto table = kTables.find(q.value(2).toString());
    if (table == kTables.end()) return Kind::Foreign;
    if (q.value(0).toString() == QLatin1String("table")) tables.push_back(table->first);
  }
  for (const QString& table : tables) {
    QSqlQuery columns(db_);
    if (!columns.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) {
      error = columns.lastError();
      return Kind::Unreadable;
    }
    QStringList names;
    while (columns.next()) names << columns.value(1).toString();
    if (names != kTables.at(table)) return Kind::Foreign;
  }
  return Kind::Ours;
}

bool HistoryStore::Exec(const QString& sql) {
  QSqlQuery q(db_);
  if (q.exec(sql)) return true;
  Fail(QStringLiteral("cannot write %1").arg(path_), q.lastError());
  return false;
}

void HistoryStore::Fail(const QString& what, const QSqlError& error) {
  QString reason = what;
  const QString detail = error.databaseText().isEmpty() ? error.text() : error.databaseText();
  if (!detail.trimmed().isEmpty()) reason += QStringLiteral(" (") + detail.trimmed() + QLatin1Char(')');
  insert_.reset();
  if (db_.isValid()) db_.close();
  // Kept for whoever wants to look into it or rescue it; the next try starts
  // a fresh file in its place.
  if (IsDamage(error) && MoveAside(QStringLiteral("damaged"))) {
    reason = QStringLiteral("%1 is damaged and was moved aside as %2")
                 .arg(QFileInfo(path_).fileName(), QFileInfo(movedAside_).fileName());
  }
  GiveUp(reason);
}

void HistoryStore::GiveUp(const QString& reason) {
  // Closed, not removed: queries of the caller may still hold the
  // connection; the destructor lets go of it.
  insert_.reset();
  if (db_.isValid()) db_.close();
  failure_ = reason;
  ++failedTries_;
  if (givenUp_) return;
  givenUp_ = true;
  if (onFailure_) onFailure_(failure_);
}

bool HistoryStore::MoveAside(const QString& kind) {
  const QString aside = path_ + QLatin1Char('.') + kind + QLatin1Char('-') +
                        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  if (!QFile::rename(path_, aside)) return false;
  movedAside_ = aside;
  // The log of changes goes with it under the name SQLite looks for beside it.
  for (const char* companion : {"-wal", "-shm"}) {
    const QString from = path_ + QLatin1String(companion);
    if (QFile::exists(from)) QFile::rename(from, aside + QLatin1String(companion));
  }
  return true;
}

bool HistoryStore::RetryDue(qint64 nowMs) const {
  return failedTries_ < 2 || nowMs < lastTryMs_ || nowMs - lastTryMs_ >= kRetryEveryMs;
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

bool HistoryStore::WriteSensors() {
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
      writeError_ = q.lastError();
      return false;
    }
  }
  return true;
}

bool HistoryStore::Insert(const HistoryPoint& point) {
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
  const bool ok = q.exec();
  if (!ok) writeError_ = q.lastError();
  q.finish();
  return ok;
}

bool HistoryStore::InsertLink(const LinkEvent& event) {
  QSqlQuery q(db_);
  q.prepare(QStringLiteral("INSERT INTO link VALUES (?, ?)"));
  q.addBindValue(event.ms);
  q.addBindValue(event.up ? 1 : 0);
  if (q.exec()) return true;
  writeError_ = q.lastError();
  return false;
}

void HistoryStore::Save(qint64 nowMs, bool force) {
  if (path_.isEmpty()) return;
  if (!Saving()) {
    if (!force && !RetryDue(nowMs)) return;
    lastTryMs_ = nowMs;
    if (!Open()) return;
  }
  lastTryMs_ = nowMs;
  const bool newestOnly = !sensorsUnsaved_ && unsavedLinks_.empty() && unsavedFromMs_ && !memory_.empty() &&
                          *unsavedFromMs_ == memory_.back().ms;
  if (newestOnly) {
    // One statement commits on its own.
    if (!Insert(memory_.back())) {
      Fail(QStringLiteral("cannot write %1").arg(path_), writeError_);
      return;
    }
  } else {
    // New sensor details go in with the sample they came with, and what
    // waited in memory all at once: all of it lands or none.
    if (!db_.transaction()) {
      Fail(QStringLiteral("cannot write %1").arg(path_), db_.lastError());
      return;
    }
    bool ok = !sensorsUnsaved_ || WriteSensors();
    if (unsavedFromMs_) {
      auto p = std::lower_bound(memory_.begin(), memory_.end(), *unsavedFromMs_,
                                [](const HistoryPoint& point, qint64 ms) { return point.ms < ms; });
      for (; ok && p != memory_.end(); ++p) ok = Insert(*p);
    }
    for (const LinkEvent& e : unsavedLinks_) ok = ok && InsertLink(e);
    if (ok && !db_.commit()) {
      writeError_ = db_.lastError();
      ok = false;
    }
    if (!ok) {
      db_.rollback();
      Fail(QStringLiteral("cannot write %1").arg(path_), writeError_);
      return;
    }
  }
  unsavedFromMs_.reset();
  unsavedLinks_.clear();
  sensorsUnsaved_ = false;
  if (givenUp_) {
    givenUp_ = false;
    failedTries_ = 0;
    failure_.clear();
    if (onResumed_) onResumed_();
  }
}

void HistoryStore::Append(const HistoryPoint& point, const HistorySensors& sensors) {
  // Memory stays in time order even when the clock was set back.
  while (!memory_.empty() && memory_.back().ms >= point.ms) memory_.pop_back();
  memory_.push_back(point);
  unsavedFromMs_ = std::min(unsavedFromMs_.value_or(point.ms), point.ms);
  if (!sensorsKnown_ || sensors != sensors_) sensorsUnsaved_ = true;
  sensors_ = sensors;
  sensorsKnown_ = true;
  Save(point.ms, false);
  if (point.ms - lastPruneMs_ >= kPruneEveryMs) Prune(point.ms);
}

void HistoryStore::NoteLink(qint64 ms, bool up) {
  memoryLinks_.push_back({ms, up});
  unsavedLinks_.push_back({ms, up});
  // The file is tried again at samples only.
  if (Saving()) Save(ms, false);
}

void HistoryStore::Prune(qint64 nowMs) {
  lastPruneMs_ = nowMs;
  const qint64 memoryCut = nowMs - kMemoryMs;
  while (!memory_.empty() && memory_.front().ms < memoryCut) memory_.pop_front();
  // The last change before the cut tells how the link stood at the cut.
  const auto firstKept = std::find_if(memoryLinks_.begin(), memoryLinks_.end(),
                                      [&](const LinkEvent& e) { return e.ms >= memoryCut; });
  if (firstKept - memoryLinks_.begin() > 1) memoryLinks_.erase(memoryLinks_.begin(), firstKept - 1);
  std::erase_if(unsavedLinks_, [&](const LinkEvent& e) { return e.ms < memoryCut; });
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
