// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/UnitUsbIdChoice.h"

#include "config/SettingsKey.h"
#include "config/SettingsValues.h"

namespace {

QString Expected() { return QStringLiteral("expected ") + QString::fromLatin1(kUnitUsbIdForm); }

}  // namespace

UnitUsbIdChoice ChooseUnitUsbId(const std::optional<QString>& commandLineId,
                                const QString& settingsPath) {
  UnitUsbIdChoice choice;
  if (commandLineId) {
    if (auto ids = ParseUnitUsbId(commandLineId->toStdString()))
      choice.ids = *ids;
    else
      choice.error = QStringLiteral("--unit-id \"%1\": %2").arg(*commandLineId, Expected());
    return choice;
  }

  // Asked apart from the read, which would tell the refusal only once: the
  // window's settings load is where it is reported.
  choice.notice = SettingsKey::Refusal(settingsPath);
  if (!choice.notice.isEmpty()) return choice;

  QString stored;
  try {
    const SettingsKey key(settingsPath, SettingsKey::Open::Existing);
    if (!key.IsOpen() || !key.ValueExists(settings::kUnitUsbId)) return choice;
    stored = key.ReadString(settings::kUnitUsbId);
  } catch (const SettingsError& e) {
    // A file that cannot be read at all is reported by the settings load as
    // always; only a value that is there and wrong stops the start.
    if (e.Text().startsWith(QStringLiteral("Invalid data type")))
      choice.error = QStringLiteral("\"%1\" in %2 is not text: %3")
                         .arg(settings::kUnitUsbId, settingsPath, Expected());
    return choice;
  }
  if (auto ids = ParseUnitUsbId(stored.trimmed().toStdString()))
    choice.ids = *ids;
  else
    choice.error = QStringLiteral("\"%1\" in %2 is \"%3\": %4")
                       .arg(settings::kUnitUsbId, settingsPath, stored, Expected());
  return choice;
}
