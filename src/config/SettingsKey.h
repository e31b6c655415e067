// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Typed access to the program's settings file. The file plays the part of a
// registry key: values have a type (32-bit integer, text, 8-byte binary), a
// load opens the file without creating it, a save creates it, and a value of
// the wrong type or a value that cannot be read or stored is reported with
// the same three texts as always.
//
// File format: an INI file written by QSettings, every value in [General]
// under its own name (QSettings writes a blank as %20), each value tagged with
// its type the way registry exports spell them:
//
//   [General]
//   FahrenCel=dword:1
//   Sensor1Warn=dword:-10
//   Sensor2=sz:Ambient
//   Warning%20handling%20Index=dword:0
//   Next%20Remind=hex:000000007808e640
//
//   dword:<signed decimal>     32-bit integer; booleans are dword 0 or 1
//   sz:<text>                  text (QSettings quotes and escapes as needed)
//   hex:<16 hex digits>        8 bytes, in stored order (a little-endian double)
//
// A value whose tag does not match the type asked for is "Invalid data type".
// Names must not contain '/' or '\': QSettings reads those as groups.
//
// Every write is stored at once, through QSettings' temporary file and rename,
// so a crash never leaves a half-written file and nothing waits in memory.
// QSettings drops comment lines when it writes; a save puts the lines that
// begin with ';' or '#' back where they were (see Store).
//
// Only a regular file of at most kLargestSettingsFile bytes is used. Anything
// else at the path (a folder, a FIFO, a device, a file of megabytes) is never
// opened, read, written or removed: the first access in the process reports
// why, and from then on the key acts as a missing one whose writes go nowhere,
// so the program runs on its built-in settings.

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>
#include <stdexcept>

class QSettings;

// what() is the whole message, e.g. "Invalid data type for 'Sensor1Warn'".
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  QString Text() const { return QString::fromUtf8(what()); }
};

// What tells cheaply whether the file changed: a save through SettingsKey
// replaces it (another inode), any other writer changes its size or time.
struct SettingsFileStamp {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;
  bool operator==(const SettingsFileStamp&) const = default;
};

class SettingsKey {
 public:
  // The file is a few kilobytes; every save rewrites it whole.
  static constexpr std::int64_t kLargestSettingsFile = 1024 * 1024;

  enum class Open {
    Existing,         // for loads: a missing file is an empty key, and stays missing
    CreateIfMissing,  // for saves: the folder is created, the file with the first write
  };

  SettingsKey(const QString& path, Open mode);
  ~SettingsKey();
  SettingsKey(SettingsKey&&) noexcept;
  SettingsKey& operator=(SettingsKey&&) noexcept;

  // $XDG_CONFIG_HOME/quelmark/tessalinique.conf (normally ~/.config/...).
  static QString DefaultPath();

  static SettingsFileStamp Stamp(const QString& path);

  // Removes the whole key, i.e. the file. True when no file is left. What is
  // refused as a settings file is left where it is.
  static bool DeleteKey(const QString& path);

  // Why what is at the path is not used as the settings file; empty when it
  // is used (or missing). Reports nothing.
  static QString Refusal(const QString& path);

  // Whether the key could be opened; false for a load of a missing file, and
  // for a refused one once its refusal has been reported.
  bool IsOpen() const;
  const QString& Path() const { return path_; }

  // Throws "Failed to get data for '<name>'" when the file is there but
  // cannot be read at all: whether the value exists is then unknown. The
  // first access to a refused file throws why it is refused.
  bool ValueExists(const QString& name) const;

  // Reads throw "Failed to get data for '<name>'" for a value that is missing
  // or cannot be read, "Invalid data type for '<name>'" for one of another type.
  std::int32_t ReadInteger(const QString& name) const;
  bool ReadBool(const QString& name) const;  // any non-zero integer is true
  QString ReadString(const QString& name) const;
  double ReadDateTime(const QString& name) const;  // days since 1899-12-30, 8 bytes

  // Writes throw "Failed to set data for '<name>'" when the value did not
  // reach the disk. The file then still holds what it held before.
  void WriteInteger(const QString& name, std::int32_t value);
  void WriteBool(const QString& name, bool value);
  void WriteString(const QString& name, const QString& value);
  void WriteDateTime(const QString& name, double days);

 private:
  QString Raw(const QString& name) const;  // the tagged text, or throws
  void Store(const QString& name, const QString& tagged);
  void ReportRefusalOnce() const;

  QString path_;
  QString refusal_;  // set: the file is not used
  SettingsFileStamp stamp_;
  std::unique_ptr<QSettings> settings_;  // null while the key is not open
  bool unreadable_ = false;
};

// The stored date-time form: days since 1899-12-30 00:00 local time, the
// fraction being the time of day.
double DateTimeToDays(const QDateTime& when);
QDateTime DaysToDateTime(double days);
