// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"

#include <QFileInfo>

#include <algorithm>
#include <initializer_list>

namespace {

// The options QGuiApplication and QApplication take themselves (their
// constructors' documentation), which they accept with one dash or two.
// Their values are passed on untouched: a geometry such as "-0+0" begins
// with a dash.
constexpr std::initializer_list<const char*> kQtOptionsWithValue = {
    "platform", "platformpluginpath", "platformtheme", "plugin",  "qmljsdebugger",
    "qwindowgeometry", "qwindowicon", "qwindowtitle", "session", "display",
    "geometry", "style", "stylesheet"};
constexpr std::initializer_list<const char*> kQtFlags = {"reverse", "widgetcount"};

constexpr char kUsage[] =
    "Options: --status [--json], --find-unit, --unit-id VVVV:PPPP, --metrics-file PATH, --minimized, "
    "and Qt's own (-platform NAME, -style NAME, -reverse, ...).";

bool Among(std::initializer_list<const char*> names, QStringView name) {
  return std::any_of(names.begin(), names.end(), [name](const char* n) { return name == QLatin1String(n); });
}

QString ProgramName(const QStringList& args) {
  const QString name = args.isEmpty() ? QString() : QFileInfo(args.first()).fileName();
  return name.isEmpty() ? QStringLiteral("vornalith-control-centre") : name;
}

class Parser {
 public:
  Parser(const QStringList& args, CommandLine& cl) : args_(args), cl_(cl), program_(ProgramName(args)) {}

  void Run() {
    for (i_ = 1; i_ < args_.size() && cl_.error.isEmpty(); ++i_) Take(args_.at(i_));
  }

 private:
  void Take(const QString& a) {
    if (a == QLatin1String("--status")) {
      cl_.status = true;
    } else if (a == QLatin1String("--json")) {
      cl_.json = true;
    } else if (a == QLatin1String("--find-unit")) {
      cl_.findUnit = true;
    } else if (a == QLatin1String("--minimized")) {
      cl_.minimized = true;
    } else if (Named(a, "--unit-id")) {
      if (auto v = OwnValue(a, "--unit-id")) cl_.unitId = *v;
    } else if (Named(a, "--metrics-file")) {
      if (auto v = OwnValue(a, "--metrics-file")) cl_.metricsFile = *v;
    } else if (a.startsWith('-') && a.size() > 1) {
      TakeQtOption(a);
    } else {
      Fail(QStringLiteral("unexpected argument '%1'").arg(a));
    }
  }

  static bool Named(const QString& a, const char* name) {
    return a == QLatin1String(name) || a.startsWith(QLatin1String(name) + '=');
  }

  // "--name value" or "--name=value". A separate value must not look like an
  // option: "--metrics-file --status" is a forgotten path, not a file named
  // "--status".
  std::optional<QString> OwnValue(const QString& a, const char* name) {
    const qsizetype n = qstrlen(name);
    std::optional<QString> value;
    if (a.size() > n) value = a.mid(n + 1);
    else if (i_ + 1 < args_.size() && !args_.at(i_ + 1).startsWith('-')) value = args_.at(++i_);
    if (!value || value->isEmpty()) {
      Fail(QStringLiteral("option '%1' needs a value").arg(QLatin1String(name)));
      return std::nullopt;
    }
    return value;
  }

  void TakeQtOption(const QString& a) {
    QStringView name = QStringView(a).mid(a.startsWith(QLatin1String("--")) ? 2 : 1);
    const qsizetype equals = name.indexOf('=');
    if (equals >= 0) name = name.left(equals);
    if (Among(kQtFlags, name) && equals < 0) return;
    if (!Among(kQtOptionsWithValue, name)) {
      Fail(QStringLiteral("unknown option '%1'").arg(a));
    } else if (equals < 0 && ++i_ >= args_.size()) {
      Fail(QStringLiteral("option '%1' needs a value").arg(a));
    }
  }

  void Fail(const QString& what) {
    cl_.error = program_ + QStringLiteral(": ") + what + '\n' + QLatin1String(kUsage);
  }

  const QStringList& args_;
  CommandLine& cl_;
  QString program_;
  qsizetype i_ = 1;
};

}  // namespace

CommandLine ParseCommandLine(const QStringList& args) {
  CommandLine cl;
  Parser(args, cl).Run();
  return cl;
}

QStringList CommandLineArguments(int argc, char** argv) {
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  return args;
}
