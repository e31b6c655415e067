// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/NotificationPolicy.h"

#include "monitor/DeviceData.h"

QString WarningText(const StatusSample& sample) {
  // A sensor's warning shows as "Warning" on the status panel, which says
  // nothing on its own: name the sensor whose panel was taken, the first one
  // not at normal.
  if (sample.statusCaption == QLatin1String("Warning")) {
    for (const SensorSample& sensor : sample.sensors) {
      if (sensor.level >= 1 && (sensor.number == 1 || sensor.name != kSensorNotAvailable))
        return QStringLiteral("Temperature warning on ") + sensor.name;
    }
  }
  return sample.statusCaption;
}

std::vector<Notice> NotificationPolicy::OnSample(const StatusSample& sample,
                                                 const NotificationChoices& choices) {
  std::vector<Notice> notices;

  const QString warning = sample.warningRaised ? WarningText(sample) : QString();
  if (!warning.isEmpty() && warning != warning_ && !choices.ignoreWarnings) {
    notices.push_back({NoticeSlot::Warning, QStringLiteral("Cooling unit warning"), warning});
  }
  warning_ = warning;

  if (sample.shutdownArmed != armed_) {
    armed_ = sample.shutdownArmed;
    if (armed_) {
      notices.push_back({NoticeSlot::Shutdown, QStringLiteral("Emergency shutdown armed"),
                         kShutdownArmedBody, true, true});
    } else {
      notices.push_back({NoticeSlot::Shutdown, QStringLiteral("Emergency shutdown cancelled"),
                         QStringLiteral("The cooling unit's condition has cleared; the computer "
                                        "stays on.")});
    }
  }

  if (!choices.enabled) notices.clear();
  return notices;
}

std::optional<Notice> NotificationPolicy::OnLinkChanged(bool up, const NotificationChoices& choices) {
  std::optional<Notice> notice;
  if (!up && !linkLost_) {
    notice = Notice{NoticeSlot::Link, QStringLiteral("USB connection lost"),
                    QStringLiteral("The control centre cannot reach the cooling unit and keeps "
                                   "retrying.")};
  } else if (up && linkLost_) {
    notice = Notice{NoticeSlot::Link, QStringLiteral("USB connection back"),
                    QStringLiteral("The cooling unit answers again.")};
  }
  linkLost_ = !up;
  if (!choices.enabled) notice.reset();
  return notice;
}
