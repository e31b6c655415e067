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

void LogFile::TrimOldest(int percent) const {
  if (percent < 1) return;
  QFile file(fileName_);
  if (!file.open(QIODevice::ReadOnly)) {
    throw LogError(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName_, file.errorString()).toStdString());
  }
  const QByteArray content = file.readAll();
  file.close();

  QList<QByteArray> lines = content.split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();  // after the final line end
  for (QByteArray& l : lines) {
    if (l.endsWith('\r')) l.chop(1);
  }

  const qsizetype n = lines.size() - 3;
  if (n < 2) return;
  qsizetype keep = (n / 100) * (100 - percent);
  keep = std::clamp<qsizetype>(keep, 0, n);
  lines.remove(0, n - keep);

  QByteArray out;
  for (const QByteArray& l : lines) out += l + kLineEnd;

  // The trimmed log replaces the old one whole or not at all.
  QSaveFile save(fileName_);
  if (!save.open(QIODevice::WriteOnly) || save.write(out) != out.size() || !save.commit()) {
    throw LogError(QStringLiteral("Cannot write file \"%1\". %2").arg(fileName_, save.errorString()).toStdString());
  }
}

void LogFile::OpenInViewer(IProcessLauncher& launcher) const {
  if (!QFileInfo::exists(fileName_)) return;
  launcher.StartDetached(kLogViewerProgram, {fileName_});
}

void LogFile::Delete() const {
  QFile file(fileName_);
  if (!file.exists()) return;
  // A log that stays while "Log Cleared" is reported would be a false report.
  if (!file.remove()) {
    throw LogError(QStringLiteral("Cannot delete file \"%1\". %2").arg(fileName_, file.errorString()).toStdString());
  }
}
