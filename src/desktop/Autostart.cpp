// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

namespace {

// The two executables (the USB one and the -sim one) share the entry; a
// desktop's "startup applications" tool that copied our menu entry here
// names the program without a path. An entry that starts this very
// executable, whatever its name, is ours too.
constexpr char kOurProgram[] = "vornalith-control-centre";
// A desktop entry is a few hundred bytes; anything much larger is not ours.
constexpr qint64 kLargestEntry = 64 * 1024;

// The characters that oblige an Exec argument to be quoted.
bool Reserved(QChar c) {
  static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#`()");
  return reserved.contains(c);
}

// A string value as it is written into the file: backslashes and control
// characters escaped.
QString EscapeValue(const QString& value) {
  QString out;
  for (QChar c : value) {
    switch (c.unicode()) {
      case '\\': out += QLatin1String("\\\\"); break;
      case '\n': out += QLatin1String("\\n"); break;
      case '\t': out += QLatin1String("\\t"); break;
      case '\r': out += QLatin1String("\\r"); break;
      default: out += c;
    }
  }
  if (out.startsWith(' ')) out.replace(0, 1, QLatin1String("\\s"));
  return out;
}

QString UnescapeValue(const QString& value) {
  QString out;
  for (qsizetype i = 0; i < value.size(); ++i) {
    const QChar c = value.at(i);
    if (c != '\\' || i + 1 == value.size()) {
      out += c;
      continue;
    }
    switch (value.at(++i).unicode()) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default: out += '\\'; out += value.at(i);
    }
  }
  return out;
}

// The keys of the file's [Desktop Entry] group (localised keys included as
// they are written); nothing when the file cannot be read as an entry.
std::optional<QHash<QString, QString>> ReadEntry(const QString& path) {
  const QFileInfo info(path);
  if (!info.isFile() || info.size() > kLargestEntry) return std::nullopt;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QHash<QString, QString> keys;
  bool inEntry = false, sawEntry = false;
  for (const QByteArray& raw : file.readAll().split('\n')) {
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    if (line.startsWith('[')) {
      inEntry = line == QLatin1String("[Desktop Entry]");
      sawEntry = sawEntry || inEntry;
      continue;
    }
    const qsizetype equals = line.indexOf('=');
    if (!inEntry || equals <= 0) continue;
    keys.insert(line.left(equals).trimmed(), UnescapeValue(line.mid(equals + 1).trimmed()));
  }
  if (!sawEntry) return std::nullopt;
  return keys;
}

// The program an Exec line starts: its first argument, unquoted.
QString ExecProgram(const QString& exec) {
  QString program;
  if (exec.startsWith('"')) {
    for (qsizetype i = 1; i < exec.size() && exec.at(i) != '"'; ++i) {
      if (exec.at(i) == '\\' && i + 1 < exec.size()) ++i;
      program += exec.at(i);
    }
  } else {
    program = exec.section(' ', 0, 0);
  }
  return program.replace(QLatin1String("%%"), QLatin1String("%"));
}

QString Described(const QString& what, const QString& path, const QString& why) {
  return QStringLiteral("%1 %2: %3").arg(what, QDir::toNativeSeparators(path), why);
}

}  // namespace

QString QuoteExecArgument(const QString& argument) {
  QString escaped = argument;
  escaped.replace('%', QLatin1String("%%"));
  if (std::none_of(argument.begin(), argument.end(), Reserved)) return escaped;
  QString quoted = QStringLiteral("\"");
  for (QChar c : escaped) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

QString Autostart::DefaultPath() {
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (!QDir::isAbsolutePath(config)) config = QDir::homePath() + QStringLiteral("/.config");
  return QDir::cleanPath(config + QStringLiteral("/autostart/")) + '/' + QLatin1String(kAutostartEntryName);
}

Autostart::Autostart(QString path, QString executable)
    : path_(std::move(path)), executable_(std::move(executable)) {}

bool Autostart::Enabled() const {
  const auto keys = ReadEntry(path_);
  if (!keys) return false;
  const auto is = [&](const char* key, const char* value) {
    return keys->value(QLatin1String(key)).compare(QLatin1String(value), Qt::CaseInsensitive) == 0;
  };
  if (!is("Type", "Application") || is("Hidden", "true") || is("X-GNOME-Autostart-enabled", "false"))
    return false;
  const QString program = QFileInfo(ExecProgram(keys->value(QStringLiteral("Exec")))).fileName();
  return program.startsWith(QLatin1String(kOurProgram)) || program == QFileInfo(executable_).fileName();
}

QByteArray Autostart::EntryText() const {
  QString text = QStringLiteral(
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Vornalith Control Centre\n"
      "Comment=Watch the cooling unit from the start of the desktop session\n");
  text += QStringLiteral("Exec=") + EscapeValue(QuoteExecArgument(executable_) + QStringLiteral(" --minimized")) + '\n';
  // Once the program is gone the session skips the entry without a word.
  text += QStringLiteral("TryExec=") + EscapeValue(executable_) + '\n';
  text += QStringLiteral(
      "Icon=org.quelmark.VornalithControlCentre\n"
      "Terminal=false\n"
      "NoDisplay=true\n"
      "X-GNOME-Autostart-enabled=true\n");
  return text.toUtf8();
}

QString Autostart::SetEnabled(bool on) {
  if (!on) {
    QFile file(path_);
    if (!QFileInfo::exists(path_) && !QFileInfo(path_).isSymLink()) return QString();
    if (file.remove()) return QString();
    return Described(QStringLiteral("Cannot remove"), path_, file.errorString());
  }
  const QString folder = QFileInfo(path_).absolutePath();
  std::error_code error;
  std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
  if (error)
    return Described(QStringLiteral("Cannot create the folder"), folder,
                     QString::fromLocal8Bit(error.message()));
  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly))
    return Described(QStringLiteral("Cannot write"), path_, file.errorString());
  const QByteArray text = EntryText();
  if (file.write(text) != text.size() || !file.commit())
    return Described(QStringLiteral("Cannot write"), path_, file.errorString());
  return QString();
}
