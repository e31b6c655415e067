// SPDX-License-Identifier: GPL-3.0-or-later
#include "logs/LogFile.h"

#include "logs/ProcessLauncher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kLineEnd = QByteArrayLiteral("\r\n");

QString SystemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

[[noreturn]] void Fail(const QString& what, const QString& path, int error) {
  throw LogError(QStringLiteral("%1 \"%2\". %3").arg(what, path, SystemReason(error)).toStdString());
}

// A TAB or a line break inside a text would shift every later column or split
// the record over two lines; the reader of the log could no longer tell the
// fields apart. They are written as blanks.
QString FieldText(const QString& text) {
  QString out = text;
  for (QChar& c : out) {
    if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n')) c = QLatin1Char(' ');
  }
  return out;
}

class Fields {
 public:
  void Add(const QString& text) {
    line_ += FieldText(text);
    line_ += QLatin1Char('\t');
  }
  void Add(std::int32_t number) { Add(QString::number(number)); }
  QByteArray Line() const { return line_.toUtf8() + kLineEnd; }

 private:
  QString line_;
};

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Writes everything or reports the error code; a short write is continued.
int WriteAll(int fd, const QByteArray& bytes) {
  const char* p = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += n;
    left -= n;
  }
  return 0;
}

constexpr qint64 kTrimBlock = 1 << 20;

// Reads [from, to) of a file in blocks and hands each block on; false when
// the trim was called off on the way.
template <typename Use>
bool ReadBlocks(int fd, qint64 from, qint64 to, const std::atomic<bool>& cancel, const QString& path,
                Use&& use) {
  QByteArray block(static_cast<qsizetype>(std::min(kTrimBlock, std::max<qint64>(to - from, 1))), Qt::Uninitialized);
  while (from < to) {
    if (cancel) return false;
    const ssize_t n = ::pread(fd, block.data(), static_cast<size_t>(std::min<qint64>(block.size(), to - from)), from);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(QStringLiteral("Cannot read file"), path, errno);
    if (n == 0) break;  // cut short meanwhile; the caller sees it at its next look
    use(block.constData(), static_cast<qsizetype>(n));
    from += n;
  }
  return true;
}

// The lines that stay, with every line end made CR LF: a lone LF gets its CR,
// a last line without an end gets one.
class TrimmedCopy {
 public:
  TrimmedCopy(QSaveFile& out, qint64 linesToDrop) : out_(out), drop_(linesToDrop) {}

  void operator()(const char* p, qsizetype n) {
    const char* const end = p + n;
    while (drop_ > 0 && p < end) {
      const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      if (!lf) return;
      p = lf + 1;
      --drop_;
    }
    while (p < end) {
      const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      const char* stop = lf ? lf : end;
      if (stop > p) {
        buffer_.append(p, stop - p);
        last_ = stop[-1];
      }
      if (lf) {
        buffer_ += last_ == '\r' ? QByteArrayLiteral("\n") : kLineEnd;
        last_ = '\n';
      }
      p = stop + (lf ? 1 : 0);
    }
    if (buffer_.size() >= kTrimBlock) Flush();
  }
  void EndLastLine() {
    if (last_ == '\r') buffer_ += '\n';
    else if (last_ != '\n') buffer_ += kLineEnd;
    last_ = '\n';
  }
  void Flush() {
    if (!buffer_.isEmpty() && out_.write(buffer_) != buffer_.size()) {
      throw LogError(QStringLiteral("Cannot write file \"%1\". %2").arg(out_.fileName(), out_.errorString()).toStdString());
    }
    buffer_.clear();
  }

 private:
  QSaveFile& out_;
  qint64 drop_;
  QByteArray buffer_;
  char last_ = '\n';
};

int OpenForTrim(const QString& name, qint64& size) {
  const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(QStringLiteral("Cannot open file"), name, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    Fail(QStringLiteral("Cannot open file"), name, error);
  }
  size = st.st_size;
  return fd;
}

void SyncFolder(const QString& folder) {
  const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

QByteArray LogFileHead() {
  Fields titles;
  for (const char* t : {"Timestamp", "Cpu speed", "Cpu load", "Rear fan", "Front fan", "Display line 1",
                        "Display line 2", "Display interval", "Warning handling", "Boot temp",
                        "Heater effect", "Operation hours"}) {
    titles.Add(QString::fromLatin1(t));
  }
  for (int n = 1; n <= 5; ++n) {
    const QString sensor = QStringLiteral("Sensor %1").arg(n);
    titles.Add(sensor);
    titles.Add(sensor + QStringLiteral("Sensor temp"));
    titles.Add(sensor + QStringLiteral("Sensor alarm value"));
    titles.Add(sensor + QStringLiteral("Sensor shutdown value"));
    titles.Add(sensor + QStringLiteral("Higher/Lower"));
  }
  return titles.Line() + QByteArrayLiteral(" ") + kLineEnd;
}

QString TimeFormatWithoutZone(const QString& format) {
  QString out;
  bool quoted = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format.at(i);
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (quoted || c != QLatin1Char('t')) {
      out += c;
      continue;
    }
    while (i + 1 < format.size() && format.at(i + 1) == QLatin1Char('t')) ++i;
    if (!out.isEmpty() && out.back().isSpace()) {
      out.chop(1);
    } else if (i + 1 < format.size() && format.at(i + 1).isSpace()) {
      ++i;
    }
  }
  return out.trimmed();
}

QByteArray FormatLogRecord(const LogRecord& r, const QLocale& locale) {
  Fields f;
  // The zone's name differs from machine to machine (and with the season);
  // without it every record's first field has the same shape.
  f.Add(locale.toString(r.Timestamp.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
        locale.toString(r.Timestamp, TimeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat))));
  f.Add(r.CpuSpeed);
  f.Add(r.CpuLoad);
  f.Add(r.RearFan);
  f.Add(r.FrontFan);
  f.Add(r.DisplayLine1);
  f.Add(r.DisplayLine2);
  f.Add(r.DisplayInterval);
  f.Add(r.WarningHandling);
  f.Add(r.BootTemperature);
  f.Add(r.HeaterEffect);
  f.Add(r.OperationHours);
  for (const LogSensor& s : r.Sensors) {
    f.Add(s.Name);
    f.Add(s.Temperature);
    f.Add(s.WarningLimit);
    f.Add(s.ShutdownLimit);
    f.Add(static_cast<std::int32_t>(s.Higher));
  }
  f.Add(r.SystemStatus);
  return f.Line();
}

QString DefaultLogFolder() {
  QString base = qEnvironmentVariable("XDG_STATE_HOME");
  // A relative XDG path is to be ignored, as if unset.
  if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + QStringLiteral("/.local/state");
  return QDir::cleanPath(base + QStringLiteral("/quelmark/tessalinique")) + QLatin1Char('/');
}

LogFile::LogFile(QString fileName, QLocale locale) : fileName_(std::move(fileName)), locale_(std::move(locale)) {}

void LogFile::WriteRecord(const LogRecord& record) const {
  const QByteArray line = FormatLogRecord(record, locale_);
  const std::lock_guard lock(writing_);

  const QString folder = QFileInfo(fileName_).absolutePath();
  if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) {
    throw LogError(QStringLiteral("Cannot create folder \"%1\"").arg(folder).toStdString());
  }

  const QByteArray path = QFile::encodeName(fileName_);
  Descriptor fd(::open(path.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (fd.get() < 0) Fail(QStringLiteral("Cannot open file"), fileName_, errno);

  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) Fail(QStringLiteral("Cannot open file"), fileName_, errno);

  QByteArray out;
  const bool created = st.st_size == 0;
  if (created) {
    out = LogFileHead();
  } else {
    // A last line without its line end (the file was cut short, or edited)
    // gets one, so that the new record starts a line of its own.
    char last = '\n';
    if (::pread(fd.get(), &last, 1, st.st_size - 1) == 1 && last != '\n') out = kLineEnd;
  }
  out += line;

  if (const int error = WriteAll(fd.get(), out)) {
    // No half record stays behind (a full disk writes part of it).
    if (::ftruncate(fd.get(), st.st_size) != 0) {
      // The file is as the failed write left it; the error below says why.
    }
    Fail(QStringLiteral("Cannot write file"), fileName_, error);
  }
  if (::fdatasync(fd.get()) != 0) Fail(QStringLiteral("Cannot write file"), fileName_, errno);
  if (created) SyncFolder(folder);
}

int LogFile::SizeKb() const {
  const QFileInfo info(fileName_);
  if (!info.exists()) return 0;
  return static_cast<int>(info.size() / 1000);
}

LogFile::~LogFile() {
  cancelTrim_ = true;
  WaitForTrim();
}

void LogFile::TrimOldest(int percent) const {
  if (percent < 1) return;
  qint64 size = 0;
  const Descriptor fd(OpenForTrim(fileName_, size));
  Trim(fd.get(), size, percent);
}

void LogFile::StartTrimOldest(int percent, std::function<void(const QString&)> failed) {
  if (percent < 1 || trimRunning_) return;
  // The trim takes the file as it is now; what comes later is kept whole.
  qint64 size = 0;
  auto fd = std::make_shared<Descriptor>(OpenForTrim(fileName_, size));
  WaitForTrim();  // the last one has ended; its thread is still to be joined
  trimRunning_ = true;
  trim_ = std::thread([this, fd, size, percent, failed = std::move(failed)] {
    QString error;
    try {
      Trim(fd->get(), size, percent);
    } catch (const std::exception& e) {
      error = QString::fromLocal8Bit(e.what());
    } catch (...) {
      error = QStringLiteral("Unknown failure while trimming \"%1\"").arg(fileName_);
    }
    if (!error.isEmpty() && failed) failed(error);
    trimRunning_ = false;
  });
}

void LogFile::WaitForTrim() {
  if (trim_.joinable()) trim_.join();
}

void LogFile::Trim(int fd, qint64 size, int percent) const {
  struct stat st {};
  if (::fstat(fd, &st) != 0) Fail(QStringLiteral("Cannot open file"), fileName_, errno);
  const QByteArray path = QFile::encodeName(fileName_);
  qint64 copied = size;

  qint64 lines = 0;
  char last = '\n';
  const auto count = [&](const char* p, qsizetype n) {
    last = p[n - 1];
    for (const char* const end = p + n; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))); ++p) ++lines;
  };
  if (!ReadBlocks(fd, 0, copied, cancelTrim_, fileName_, count)) return;
  if (last != '\n') ++lines;

  const qint64 n = lines - 3;
  if (n < 2) return;
  const qint64 keep = std::clamp<qint64>((n / 100) * (100 - percent), 0, n);

  QSaveFile save(fileName_);
  const auto failWrite = [&] {
    throw LogError(QStringLiteral("Cannot write file \"%1\". %2").arg(fileName_, save.errorString()).toStdString());
  };
  if (!save.open(QIODevice::WriteOnly)) failWrite();
  TrimmedCopy copy(save, n - keep);
  if (!ReadBlocks(fd, 0, copied, cancelTrim_, fileName_, copy)) return save.cancelWriting();

  // Records that came while the file was read are kept after the trimmed
  // lines; the last few are taken under the lock, just before the swap.
  // A file that shrank or was replaced meanwhile is someone else's now.
  const auto catchUp = [&]() -> bool {
    struct stat now {};
    if (::fstat(fd, &now) != 0 || now.st_size < copied) return false;
    if (!ReadBlocks(fd, copied, now.st_size, cancelTrim_, fileName_, copy)) return false;
    copied = now.st_size;
    return true;
  };
  if (!catchUp()) return save.cancelWriting();
  copy.Flush();
  if (!save.flush()) failWrite();
  ::fdatasync(save.handle());  // so that the swap below waits for little

  const std::lock_guard lock(writing_);
  struct stat named {};
  if (!catchUp() || ::stat(path.constData(), &named) != 0 || named.st_ino != st.st_ino || named.st_dev != st.st_dev)
    return save.cancelWriting();
  copy.EndLastLine();
  copy.Flush();
  if (!save.commit()) failWrite();
}

bool LogFile::OpenInViewer(IProcessLauncher& launcher) const {
  if (!QFileInfo::exists(fileName_)) return false;
  return launcher.StartDetached(kLogViewerProgram, {fileName_});
}

void LogFile::Delete() const {
  QFile file(fileName_);
  if (!file.exists()) return;
  // A log that stays while "Log Cleared" is reported would be a false report.
  if (!file.remove()) {
    throw LogError(QStringLiteral("Cannot delete file \"%1\". %2").arg(fileName_, file.errorString()).toStdString());
  }
}
