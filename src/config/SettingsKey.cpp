// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/SettingsKey.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QtEndian>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

namespace {

const QString kDwordTag = QStringLiteral("dword:");
const QString kTextTag = QStringLiteral("sz:");
const QString kBinaryTag = QStringLiteral("hex:");

SettingsError GetFailed(const QString& name) {
  return SettingsError(QStringLiteral("Failed to get data for '%1'").arg(name).toStdString());
}
SettingsError SetFailed(const QString& name) {
  return SettingsError(QStringLiteral("Failed to set data for '%1'").arg(name).toStdString());
}
SettingsError WrongType(const QString& name) {
  return SettingsError(QStringLiteral("Invalid data type for '%1'").arg(name).toStdString());
}

// Which file sits at a path. QSettings replaces the file on every successful
// save, so a write reached the disk exactly when a new file took the old one's
// place. Its status alone cannot tell: it keeps only the first problem it met,
// and a damaged file would hide a refused write.
struct FileIdentity {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const QString& path) {
  const SettingsFileStamp stamp = SettingsKey::Stamp(path);
  return {stamp.exists, stamp.device, stamp.inode};
}

bool IsReadableFile(const QString& path) {
  if (!QFileInfo(path).isFile()) return false;
  QFile file(path);
  return file.open(QIODevice::ReadOnly);
}

// The refused files already reported in this process, each as it was then: a
// file that changes is judged and, if refused again, reported again.
std::mutex refusalsMutex;
std::vector<std::pair<QString, SettingsFileStamp>> reportedRefusals;

bool WasReported(const QString& path, const SettingsFileStamp& stamp) {
  const std::lock_guard lock(refusalsMutex);
  return std::find(reportedRefusals.begin(), reportedRefusals.end(), std::pair(path, stamp)) !=
         reportedRefusals.end();
}

bool MarkReported(const QString& path, const SettingsFileStamp& stamp) {
  const std::lock_guard lock(refusalsMutex);
  if (std::find(reportedRefusals.begin(), reportedRefusals.end(), std::pair(path, stamp)) !=
      reportedRefusals.end())
    return false;
  reportedRefusals.emplace_back(path, stamp);
  return true;
}

// --- Comment lines ---------------------------------------------------------
// QSettings writes the file from the values it parsed, so the lines it does
// not take for values are gone after every save. The lines a person adds by
// hand are kept instead: each run of comment lines (with the blank lines
// inside and after it) goes back in front of the line it stood before, a
// section header or a value, or at the end when that line is gone. The values
// themselves stay exactly as QSettings writes them.
//
// QSettings skips a line beginning with ';'. It reads a '#' line as a value
// whose name begins with '#' (or, without '=', as nothing) and writes that
// value back as "%23..."; the line itself is put back and that copy dropped.
// A '#' line with a quote or a backslash is left to QSettings: either can
// make the line run on into the next one, which would then no longer read.

struct CommentRun {
  QByteArray before;  // what the line after the run stands for, empty: the end
  QByteArray text;
};

struct KeptComments {
  std::vector<CommentRun> runs;
  std::vector<QByteArray> hashNames;  // the names QSettings reads in '#' lines
};

QByteArray NameOf(QByteArrayView line) {
  const qsizetype equals = line.indexOf('=');
  return QByteArray::fromPercentEncoding(line.first(equals < 0 ? line.size() : equals).trimmed().toByteArray());
}

// What a section header or value line stands for, the same for the line as it
// was typed and as QSettings writes it.
QByteArray LineKey(QByteArrayView trimmed, QByteArray& section) {
  if (trimmed.startsWith('[')) {
    qsizetype end = trimmed.indexOf(']');
    if (end < 0) end = trimmed.size();
    section = QByteArray::fromPercentEncoding(trimmed.sliced(1, end - 1).trimmed().toByteArray());
    if (section.compare("general", Qt::CaseInsensitive) == 0) section = "general";
    return '[' + section;
  }
  return section + '\x1f' + NameOf(trimmed);
}

template <typename Each>
void ForEachLine(QByteArrayView data, Each each) {
  if (data.startsWith("\xef\xbb\xbf")) data = data.sliced(3);
  while (!data.isEmpty()) {
    const qsizetype end = data.indexOf('\n');
    each(data.first(end < 0 ? data.size() : end));
    data = end < 0 ? QByteArrayView() : data.sliced(end + 1);
  }
}

KeptComments FindComments(QByteArrayView data) {
  KeptComments kept;
  QByteArray section = "general";
  QByteArray run;
  ForEachLine(data, [&](QByteArrayView line) {
    const QByteArrayView trimmed = line.trimmed();
    const bool hash = trimmed.startsWith('#');
    const bool inert = !hash || (!trimmed.contains('"') && !trimmed.contains('\\') &&
                                 !NameOf(trimmed).contains('/'));
    if ((trimmed.startsWith(';') || hash) && inert) {
      if (hash && trimmed.contains('=')) kept.hashNames.push_back(NameOf(trimmed));
      run += line.toByteArray() + '\n';
    } else if (trimmed.isEmpty()) {
      if (!run.isEmpty()) run += line.toByteArray() + '\n';
    } else {
      const QByteArray key = LineKey(trimmed, section);
      if (!run.isEmpty()) kept.runs.push_back({key, std::exchange(run, {})});
    }
  });
  if (!run.isEmpty()) kept.runs.push_back({QByteArray(), run});
  return kept;
}

QByteArray WithComments(QByteArrayView written, const KeptComments& kept) {
  QByteArray out;
  out.reserve(written.size() + 1024);
  std::vector<bool> placed(kept.runs.size(), false);
  QByteArray section = "general";
  ForEachLine(written, [&](QByteArrayView line) {
    const QByteArrayView trimmed = line.trimmed();
    if (trimmed.startsWith("%23") && std::find(kept.hashNames.begin(), kept.hashNames.end(),
                                               NameOf(trimmed)) != kept.hashNames.end())
      return;
    if (!trimmed.isEmpty()) {
      const QByteArray key = LineKey(trimmed, section);
      for (std::size_t i = 0; i < kept.runs.size(); ++i) {
        if (placed[i] || kept.runs[i].before != key) continue;
        out += kept.runs[i].text;
        placed[i] = true;
      }
    }
    out += line.toByteArray() + '\n';
  });
  for (std::size_t i = 0; i < kept.runs.size(); ++i)
    if (!placed[i]) out += kept.runs[i].text;
  return out;
}

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A second replacement of the file, right after QSettings' own. The values
// are on disk by then: a failure (or a crash in between) costs the comments,
// never a value. QSettings' cache may take the new file for its own (same
// size and time); it holds the same values, so nothing reads wrong.
void PutBackComments(const QString& path, const KeptComments& kept) {
  const QByteArray merged = WithComments(FileBytes(path), kept);
  QSaveFile out(path);
  if (!out.open(QIODevice::WriteOnly) || out.write(merged) != merged.size() || !out.commit())
    qWarning("The comment lines of %s could not be kept: %s", qPrintable(path), qPrintable(out.errorString()));
}

}  // namespace

SettingsKey::SettingsKey(const QString& path, Open mode) : path_(path) {
  refusal_ = Refusal(path);
  if (!refusal_.isEmpty()) {
    stamp_ = Stamp(path);
    return;
  }
  const bool exists = QFileInfo::exists(path);
  if (mode == Open::Existing && !exists) return;
  if (mode == Open::CreateIfMissing && !QDir().mkpath(QFileInfo(path).absolutePath())) return;
  unreadable_ = exists && !IsReadableFile(path);
  settings_ = std::make_unique<QSettings>(path, QSettings::IniFormat);
}

SettingsKey::~SettingsKey() = default;
SettingsKey::SettingsKey(SettingsKey&&) noexcept = default;
SettingsKey& SettingsKey::operator=(SettingsKey&&) noexcept = default;

QString SettingsKey::DefaultPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/quelmark/tessalinique.conf");
}

SettingsFileStamp SettingsKey::Stamp(const QString& path) {
  struct stat st;
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
  return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::int64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool SettingsKey::DeleteKey(const QString& path) {
  if (!Refusal(path).isEmpty()) return false;
  return !QFileInfo::exists(path) || QFile::remove(path);
}

QString SettingsKey::Refusal(const QString& path) {
  struct stat st;
  // stat, not open: opening a FIFO for reading waits for a writer, forever.
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
  QString what;
  if (S_ISREG(st.st_mode)) {
    if (st.st_size <= kLargestSettingsFile) return {};
    what = QStringLiteral("it holds %1 bytes, more than the %2 a settings file may hold")
               .arg(static_cast<qint64>(st.st_size))
               .arg(kLargestSettingsFile);
  } else {
    const char* kind = S_ISDIR(st.st_mode)                          ? "a folder"
                       : S_ISFIFO(st.st_mode)                       ? "a FIFO"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                       : S_ISSOCK(st.st_mode)                       ? "a socket"
                                                                    : "something else";
    what = QStringLiteral("it is %1, not a regular file").arg(QLatin1String(kind));
  }
  return QStringLiteral("Settings file %1 not used: %2. The built-in settings are in use and the file "
                        "is left as it is.")
      .arg(path, what);
}

void SettingsKey::ReportRefusalOnce() const {
  if (MarkReported(path_, stamp_))
    throw SettingsError((refusal_ + QStringLiteral(" Changes made now last until the program ends."))
                            .toStdString());
}

bool SettingsKey::IsOpen() const {
  if (!refusal_.isEmpty()) return !WasReported(path_, stamp_);
  return settings_ != nullptr;
}

bool SettingsKey::ValueExists(const QString& name) const {
  if (!refusal_.isEmpty()) {
    ReportRefusalOnce();
    return false;
  }
  if (!settings_) return false;
  if (unreadable_) throw GetFailed(name);
  return settings_->contains(name);
}

QString SettingsKey::Raw(const QString& name) const {
  if (!refusal_.isEmpty()) ReportRefusalOnce();
  if (!settings_ || unreadable_ || !settings_->contains(name)) throw GetFailed(name);
  const QVariant v = settings_->value(name);
  // Anything but plain text (a list, a byte array, a broken @Variant) was not
  // written by this program.
  if (v.typeId() != QMetaType::QString) throw WrongType(name);
  return v.toString();
}

std::int32_t SettingsKey::ReadInteger(const QString& name) const {
  const QString raw = Raw(name);
  if (!raw.startsWith(kDwordTag)) throw WrongType(name);
  bool ok = false;
  const int value = QStringView(raw).mid(kDwordTag.size()).toInt(&ok, 10);
  if (!ok) throw WrongType(name);
  return value;
}

bool SettingsKey::ReadBool(const QString& name) const { return ReadInteger(name) != 0; }

QString SettingsKey::ReadString(const QString& name) const {
  const QString raw = Raw(name);
  if (!raw.startsWith(kTextTag)) throw WrongType(name);
  return raw.mid(kTextTag.size());
}

double SettingsKey::ReadDateTime(const QString& name) const {
  const QString raw = Raw(name);
  if (!raw.startsWith(kBinaryTag)) throw WrongType(name);
  const QString hex = raw.mid(kBinaryTag.size());
  const bool allHex = std::all_of(hex.begin(), hex.end(), [](QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
  });
  if (hex.size() != 16 || !allHex) throw WrongType(name);
  const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
  return qFromLittleEndian<double>(bytes.constData());
}

void SettingsKey::WriteInteger(const QString& name, std::int32_t value) {
  Store(name, kDwordTag + QString::number(value));
}

void SettingsKey::WriteBool(const QString& name, bool value) { WriteInteger(name, value ? 1 : 0); }

void SettingsKey::WriteString(const QString& name, const QString& value) { Store(name, kTextTag + value); }

void SettingsKey::WriteDateTime(const QString& name, double days) {
  char bytes[sizeof(double)];
  qToLittleEndian(days, bytes);
  Store(name, kBinaryTag + QString::fromLatin1(QByteArray(bytes, sizeof bytes).toHex()));
}

void SettingsKey::Store(const QString& name, const QString& tagged) {
  if (!refusal_.isEmpty()) {
    ReportRefusalOnce();
    return;
  }
  if (!settings_) throw SetFailed(name);
  const bool had = !unreadable_ && settings_->contains(name);
  const QVariant old = had ? settings_->value(name) : QVariant();
  // Some values are saved on every tick of a timer that runs all day; a value
  // the file already holds costs no rewrite and no flush to disk.
  if (had && old.typeId() == QMetaType::QString && old.toString() == tagged && QFileInfo::exists(path_))
    return;
  const FileIdentity before = IdentityOf(path_);
  const KeptComments comments = FindComments(before.exists && !unreadable_ ? FileBytes(path_) : QByteArray());
  settings_->setValue(name, tagged);
  settings_->sync();
  const FileIdentity after = IdentityOf(path_);
  if (settings_->status() != QSettings::AccessError && after.exists && after != before) {
    if (!comments.runs.empty()) PutBackComments(path_, comments);
    return;
  }
  // QSettings shares one in-memory copy of the file among all its instances in
  // the process and keeps an unsaved value there; take it back out, or the
  // next load would read a value the disk never got.
  if (had) settings_->setValue(name, old);
  else settings_->remove(name);
  throw SetFailed(name);
}

namespace {
const QDate kDayZero(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;
}  // namespace

double DateTimeToDays(const QDateTime& when) {
  const QDateTime local = when.toLocalTime();
  return static_cast<double>(kDayZero.daysTo(local.date())) +
         local.time().msecsSinceStartOfDay() / kMsPerDay;
}

QDateTime DaysToDateTime(double days) {
  // Before day zero the whole part counts back while the fraction still runs
  // forward from midnight, as the stored form has always had it.
  const double whole = std::trunc(days);
  QDate date = kDayZero.addDays(static_cast<qint64>(whole));
  qint64 ms = std::llround(std::fabs(days - whole) * kMsPerDay);
  if (ms >= static_cast<qint64>(kMsPerDay)) {  // rounded up to the next midnight
    ms = 0;
    date = date.addDays(1);
  }
  return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}
