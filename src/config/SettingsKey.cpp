// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/SettingsKey.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QtEndian>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

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

}  // namespace

SettingsKey::SettingsKey(const QString& path, Open mode) : path_(path) {
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
  return !QFileInfo::exists(path) || QFile::remove(path);
}

bool SettingsKey::IsOpen() const { return settings_ != nullptr; }

bool SettingsKey::ValueExists(const QString& name) const {
  if (!settings_) return false;
  if (unreadable_) throw GetFailed(name);
  return settings_->contains(name);
}

QString SettingsKey::Raw(const QString& name) const {
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
  if (!settings_) throw SetFailed(name);
  const bool had = !unreadable_ && settings_->contains(name);
  const QVariant old = had ? settings_->value(name) : QVariant();
  // Some values are saved on every tick of a timer that runs all day; a value
  // the file already holds costs no rewrite and no flush to disk.
  if (had && old.typeId() == QMetaType::QString && old.toString() == tagged && QFileInfo::exists(path_))
    return;
  const FileIdentity before = IdentityOf(path_);
  settings_->setValue(name, tagged);
  settings_->sync();
  const FileIdentity after = IdentityOf(path_);
  if (settings_->status() != QSettings::AccessError && after.exists && after != before) return;
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
