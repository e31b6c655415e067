// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The temperature history: one row per decoded status reply, the moments the
// link was lost and came back, and each sensor's name and limits as they
// were last seen. Kept in an SQLite file for a week; while that file cannot
// be used the history lives in memory (the last day), the file is tried
// again, and what memory holds goes in once it can be used again.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct StatusSample;

struct HistoryPoint {
  qint64 ms = 0;  // milliseconds since the epoch (UTC)
  std::uint8_t state = 0;
  std::array<std::optional<int>, 5> celsius{};  // sensor 1..5; empty: no reading
  int frontRpm = 0;
  int rearRpm = 0;
  int cpuMHz = 0;
  int cpuLoad = 0;
  bool warning = false;   // a warning or alarm stood
  bool shutdown = false;  // the emergency shutdown was armed

  bool operator==(const HistoryPoint&) const = default;
};

struct HistorySensor {
  QString name;
  bool fitted = false;
  bool higher = true;
  int warningCelsius = 0;
  int shutdownCelsius = 0;

  bool operator==(const HistorySensor&) const = default;
};
using HistorySensors = std::array<HistorySensor, 5>;

struct LinkEvent {
  qint64 ms = 0;
  bool up = true;
};

// A stretch of time, [fromMs, toMs).
struct TimeSpan {
  qint64 fromMs = 0;
  qint64 toMs = 0;
  bool operator==(const TimeSpan&) const = default;
};

HistoryPoint ToHistoryPoint(const StatusSample& sample);
HistorySensors ToHistorySensors(const StatusSample& sample);

// $XDG_STATE_HOME/quelmark/tessalinique/history.sqlite
QString DefaultHistoryPath();

class HistoryStore {
 public:
  static constexpr qint64 kRetentionMs = 7LL * 24 * 3600 * 1000;
  static constexpr qint64 kMemoryMs = 24LL * 3600 * 1000;
  static constexpr qint64 kPruneEveryMs = 3600LL * 1000;
  // After a retry that failed too, the file is not tried again for this long:
  // a disk that stays broken should not cost an open every poll.
  static constexpr qint64 kRetryEveryMs = 30LL * 1000;
  // Marks the file as ours (SQLite's application id, "VCCH").
  static constexpr int kApplicationId = 0x56434348;

  // Opens (or creates) the file at once; an empty path keeps the history in
  // memory only. onFailure is called with the reason when samples stop
  // reaching the file, at open or later; onResumed when they reach it again.
  explicit HistoryStore(QString path, std::function<void(const QString& reason)> onFailure = {},
                        std::function<void()> onResumed = {});
  // Tries the file a last time when samples are still waiting for it.
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  // True while samples reach the file.
  bool Saving() const { return db_.isValid() && db_.isOpen(); }
  const QString& FailureReason() const { return failure_; }
  // Where a damaged or foreign file was moved; empty unless that happened.
  const QString& MovedAsideTo() const { return movedAside_; }

  void Append(const HistoryPoint& point, const HistorySensors& sensors);
  void NoteLink(qint64 ms, bool up);
  // Drops what is older than the retention from the file (and what is older
  // than a day from memory). Append calls it once an hour of sample time.
  void Prune(qint64 nowMs);

  std::vector<HistoryPoint> Read(qint64 fromMs, qint64 toMs) const;
  // The link's changes within the range, and the last one before it.
  std::vector<LinkEvent> LinkEvents(qint64 fromMs, qint64 toMs) const;
  const HistorySensors& Sensors() const { return sensors_; }

 private:
  enum class Kind { Ours, Foreign, Unreadable };

  bool Open();
  Kind Identify(QSqlError& error);
  bool Exec(const QString& sql);
  // Gives the file up: moves it aside when SQLite found it damaged.
  void Fail(const QString& what, const QSqlError& error);
  void GiveUp(const QString& reason);
  bool MoveAside(const QString& kind);
  bool RetryDue(qint64 nowMs) const;
  // Writes whatever has not reached the file yet; with more than the newest
  // sample in one transaction.
  void Save(qint64 nowMs, bool force);
  bool Insert(const HistoryPoint& point);
  bool InsertLink(const LinkEvent& event);
  void LoadSensors();
  bool WriteSensors();

  QString path_;
  QString connection_;
  QSqlDatabase db_;
  // Prepared once: a sample arrives every three seconds all day long.
  std::unique_ptr<QSqlQuery> insert_;
  std::function<void(const QString&)> onFailure_;
  QString failure_;
  QString movedAside_;
  HistorySensors sensors_{};
  bool sensorsKnown_ = false;
  bool sensorsUnsaved_ = false;
  QSqlError writeError_;
  qint64 lastPruneMs_ = 0;
  std::function<void()> onResumed_;
  // Set from the first failure until samples reach the file again.
  bool givenUp_ = false;
  int failedTries_ = 0;
  qint64 lastTryMs_ = 0;
  // The oldest sample in memory that the file lacks, and the link changes it
  // lacks.
  std::optional<qint64> unsavedFromMs_;
  std::vector<LinkEvent> unsavedLinks_;
  // The last day, whether or not the file is in use: it is what is left when
  // the file fails in the middle of a run, and what goes in once it works.
  std::deque<HistoryPoint> memory_;
  std::vector<LinkEvent> memoryLinks_;
};

// The stretches within [fromMs, toMs) while the link was down, from the
// link's changes (the first may lie before fromMs); a stretch still open
// runs to toMs.
std::vector<TimeSpan> LostLinkSpans(const std::vector<LinkEvent>& events, qint64 fromMs, qint64 toMs);
// The stretches while the unit reported a fault code; each runs until the
// next sample (or gapMs after the last).
std::vector<TimeSpan> FaultSpans(const std::vector<HistoryPoint>& points, qint64 gapMs);
// The same for any mark a sample carries.
std::vector<TimeSpan> FlagSpans(const std::vector<HistoryPoint>& points, qint64 gapMs,
                                bool (*flagged)(const HistoryPoint&));
