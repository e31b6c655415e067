// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file as the program meets it at start: whatever bytes are in
// it. Each input becomes the file; then every stored name is read with every
// type, the main window runs its defaults and its three load groups, and one
// value is saved over the file. Then the limits are loaded once more in
// Fahrenheit, evaluated, and switched to Celsius and back, so that stored
// values at the ends of the range meet every conversion.
//
// Besides the sanitizers' checks, two promises are held to: a load never
// reports anything but the three failure texts, and a save that reports
// success loses nothing that could be read before it and reads back as saved.

#include "FuzzWindow.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "ui_TForm1.h"

#include <QFile>
#include <QRadioButton>
#include <QRegularExpression>

#include <sys/stat.h>
#include <utime.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <variant>

namespace {

struct Harness {
  FakeServices fakes;
  std::unique_ptr<TForm1> form;
  QStringList names;
  std::int64_t stamp = 1'000'000'000;
};

Harness* harness = nullptr;

[[noreturn]] void Fail(const QString& what) {
  std::fprintf(stderr, "settings fuzzer: %s\n", qPrintable(what));
  std::abort();
}

QStringList KnownNames() {
  QStringList names;
  for (int n = 1; n <= 5; ++n) {
    names << settings::SensorWarnValue(n) << settings::SensorShutdownValue(n);
    if (n >= 2) names << settings::SensorNameValue(n) << settings::SensorHigherLowerValue(n);
  }
  for (int p = 1; p <= 3; ++p) names << settings::DisplayParamValue(p);
  names << settings::kDisplayLine1Primary << settings::kDisplayLine1Secondary << settings::kBootIndex
        << settings::kWarningHandlingIndex << settings::kFahrenCel << settings::kDisplayUpdateInterval
        << settings::kNextRemind << settings::kReportAddress;
  return names;
}

// What a value reads as, whichever type it has; nothing when it cannot be read.
using Reading = std::variant<std::int32_t, QString, std::uint64_t>;

std::optional<Reading> ReadAny(const SettingsKey& key, const QString& name) {
  try {
    return Reading(key.ReadInteger(name));
  } catch (const SettingsError&) {
  }
  try {
    return Reading(key.ReadString(name));
  } catch (const SettingsError&) {
  }
  try {
    const double days = key.ReadDateTime(name);
    std::uint64_t bits = 0;
    std::memcpy(&bits, &days, sizeof bits);
    return Reading(bits);
  } catch (const SettingsError&) {
  }
  return std::nullopt;
}

void CheckFailureText(const QString& shown) {
  static const QRegularExpression kFailure(QStringLiteral(
      "^Error: (Invalid data type for|Failed to get data for|Failed to set data for) '[^']+'$"));
  if (!kFailure.match(shown).hasMatch()) Fail(QStringLiteral("unexpected report: ") + shown);
}

void WriteFile(Harness& h, const std::uint8_t* data, std::size_t size) {
  const QString path = h.fakes.settingsPath();
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) Fail(QStringLiteral("cannot write ") + path);
  f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  f.close();
  // A file of the same size written within the same instant would look
  // unchanged to the settings cache; every input gets a time of its own.
  ++h.stamp;
  const struct utimbuf times { static_cast<time_t>(h.stamp), static_cast<time_t>(h.stamp) };
  ::utime(QFile::encodeName(path).constData(), &times);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  StartQtForFuzzing(argc, argv);
  harness = new Harness;
  harness->names = KnownNames();
  harness->form = ShowMainWindow(harness->fakes);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Harness& h = *harness;
  WriteFile(h, data, size);
  const QString path = h.fakes.settingsPath();

  // Every name, every type. Readings are remembered for the save check.
  std::vector<std::optional<Reading>> before;
  {
    const SettingsKey key(path, SettingsKey::Open::Existing);
    for (const QString& name : h.names) {
      try {
        key.ValueExists(name);
        key.ReadBool(name);
      } catch (const SettingsError&) {
      }
      before.push_back(ReadAny(key, name));
    }
  }

  // The window's start-up loads over the same file.
  TForm1& form = *h.form;
  h.fakes.boxes.shown.clear();
  form.ResetSettingsToDefaults();
  form.Settings().LoadSensorSettings();
  form.ShowSensorSettings();
  form.Settings().LoadDisplaySettings();
  form.ShowDisplaySettings();
  form.Settings().LoadUnitSettings();
  form.ShowUnitSettings();
  form.Settings().ClearPendingFlags();
  for (const QString& shown : h.fakes.boxes.shown) CheckFailureText(shown);
  h.fakes.boxes.shown.clear();

  // One save over whatever was there. The value saved changes with the input
  // so that it is never the one already stored.
  const std::int32_t saved = static_cast<std::int32_t>(size) - 7;
  bool stored = false;
  try {
    SettingsKey key(path, SettingsKey::Open::CreateIfMissing);
    key.WriteInteger(settings::kBootIndex, saved);
    stored = true;
  } catch (const SettingsError& e) {
    CheckFailureText(QStringLiteral("Error: ") + e.Text());
  }
  if (stored) {
    const SettingsKey key(path, SettingsKey::Open::Existing);
    for (int i = 0; i < h.names.size(); ++i) {
      const QString& name = h.names[i];
      const std::optional<Reading> after = ReadAny(key, name);
      if (name == settings::kBootIndex) {
        if (!after || *after != Reading(saved)) Fail(QStringLiteral("the saved value did not read back"));
      } else if (before[static_cast<std::size_t>(i)] && after != before[static_cast<std::size_t>(i)]) {
        Fail(QStringLiteral("saving another value lost '%1'").arg(name));
      }
    }
  }

  // Whatever the file says about the unit, its limits in Fahrenheit.
  CelsiusFlag = false;
  form.ui().FahrenheitRadioButton->setChecked(true);
  form.ResetSettingsToDefaults();
  form.Settings().LoadSensorSettings();
  form.ShowSensorSettings();
  form.Settings().ClearPendingFlags();
  form.Alarm().EvaluateTemperatures();
  form.Cycle().MakeStatusSample();
  form.ui().CelsiusRadioButton->click();
  form.ui().FahrenheitRadioButton->click();
  for (const QString& shown : h.fakes.boxes.shown) CheckFailureText(shown);
  h.fakes.boxes.shown.clear();
  return 0;
}
