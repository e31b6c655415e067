// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The operation log and the error log: tab-separated text files that gain one
// snapshot line per start (operation log) or per alarm (error log).
//
// File layout, UTF-8, every line (the last included) ending in CR LF, every
// field (the last included) followed by a TAB:
//   line 1  the 37 column titles (written when the file is created)
//   line 2  a single space
//   then    one record per line, 38 fields, oldest first
//
// A record is appended with a single write and flushed to disk before
// WriteRecord returns: this program's own job can be to power the computer
// off, so a record must never take earlier ones with it, and an alarm reply
// must not wait longer because the log has grown.

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

class IProcessLauncher;

inline const QString kOperationLogName = QStringLiteral("Operatation.log");
inline const QString kErrorLogName = QStringLiteral("Error.log");
// The desktop's own choice of text viewer.
inline const QString kLogViewerProgram = QStringLiteral("xdg-open");

// what() is the message shown after "Error: ".
class LogError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct LogSensor {
  QString Name;
  std::int32_t Temperature = 0;  // whole degrees Celsius
  std::uint8_t Higher = 0;       // 1: limits are reached at or above them
  std::int32_t WarningLimit = 0;
  std::int32_t ShutdownLimit = 0;
};

// One snapshot, filled by the caller at the moment of writing.
struct LogRecord {
  QDateTime Timestamp;
  std::int32_t CpuSpeed = 0;  // MHz
  std::int32_t CpuLoad = 0;   // percent
  std::array<LogSensor, 5> Sensors{};
  std::int32_t RearFan = 0;
  std::int32_t FrontFan = 0;
  QString DisplayLine1;
  QString DisplayLine2;
  std::int32_t DisplayInterval = 0;  // ms
  QString WarningHandling;
  std::int32_t BootTemperature = 0;
  std::int32_t HeaterEffect = 0;  // percent
  std::int32_t OperationHours = 0;
  QString SystemStatus;
};

// Line 1 and line 2 of a new file, CR LF included.
QByteArray LogFileHead();
// One record line, CR LF included. Timestamps use the locale's short date and
// long time without its time zone.
QByteArray FormatLogRecord(const LogRecord& record, const QLocale& locale);

// A time format with its time-zone field (and the blank that set it apart)
// taken out; quoted literal text stays as it is.
QString TimeFormatWithoutZone(const QString& format);

// $XDG_STATE_HOME/quelmark/tessalinique/ (normally ~/.local/state/...), with
// a trailing separator. The folder is created by the first write.
QString DefaultLogFolder();

class LogFile {
 public:
  explicit LogFile(QString fileName, QLocale locale = QLocale::system());
  // A trim still running is abandoned; the file stays as it was.
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  const QString& FileName() const { return fileName_; }

  // Appends one record, creating the folder and the file (with its two head
  // lines) when missing. Throws LogError; nothing is written then.
  void WriteRecord(const LogRecord& record) const;

  // File size in bytes / 1000, truncated; 0 when there is no file.
  int SizeKb() const;

  // Drops the oldest lines so that, of the n lines after the first three,
  // (n div 100) * (100 - percent) stay, together with the last three lines.
  // Does nothing for percent < 1 or a file of fewer than five lines. Every
  // line comes out with CR LF. The file is read in blocks, never whole.
  void TrimOldest(int percent) const;

  // The same trim on a thread of its own: a log of any size costs the caller
  // no more than starting it. Records written meanwhile are kept after the
  // trimmed lines. A file that cannot be opened throws LogError here; later
  // failures go to `failed`, on the trim's thread. A second start while one
  // runs does nothing.
  void StartTrimOldest(int percent, std::function<void(const QString&)> failed);
  // Waits until no trim started above is running.
  void WaitForTrim();

  // Opens the file in the desktop's viewer without waiting; false for a
  // missing file or a viewer that could not be started (the caller says so).
  bool OpenInViewer(IProcessLauncher& launcher) const;

  // Removes the file; a missing file is no failure.
  void Delete() const;

 private:
  // Trims the file open as fd, as it was at `size` bytes.
  void Trim(int fd, qint64 size, int percent) const;

  QString fileName_;
  QLocale locale_;
  // A record and the trim's swap of the file never meet: a record written
  // between the trim's last read and its rename would be lost.
  mutable std::mutex writing_;
  std::thread trim_;
  std::atomic<bool> trimRunning_{false};
  std::atomic<bool> cancelTrim_{false};
};
