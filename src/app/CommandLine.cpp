// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"

namespace {

// "--name value" or "--name=value"; advances i past a separate value.
std::optional<QString> TakeValue(const QStringList& args, qsizetype& i, const QString& name,
                                 QString& error) {
  const QString& a = args.at(i);
  if (a.startsWith(name + '=')) return a.mid(name.size() + 1);
  if (a != name) return std::nullopt;
  if (i + 1 >= args.size()) {
    error = name + QStringLiteral(" needs a value");
    return QString();
  }
  return args.at(++i);
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& args) {
  CommandLine cl;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& a = args.at(i);
    if (a == QLatin1String("--status")) {
      cl.status = true;
    } else if (a == QLatin1String("--json")) {
      cl.json = true;
    } else if (a == QLatin1String("--find-unit")) {
      cl.findUnit = true;
    } else if (auto v = TakeValue(args, i, QStringLiteral("--unit-id"), cl.error)) {
      cl.unitId = *v;
    } else if (auto m = TakeValue(args, i, QStringLiteral("--metrics-file"), cl.error)) {
      cl.metricsFile = *m;
    }
    if (!cl.error.isEmpty()) break;
  }
  return cl;
}
