// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Which desktop notifications the unit's condition calls for. A notification
// goes out when a condition begins or ends, never at every poll: a warning
// begins, the emergency shutdown is armed or cancelled, the USB link is lost
// or back. Each kind of condition has one slot on the desktop, so a condition
// that comes back replaces its earlier notification instead of stacking a
// new one.

#include "monitor/StatusSample.h"

#include <QString>

#include <optional>
#include <vector>

enum class NoticeSlot { Warning, Shutdown, Link };
constexpr int kNoticeSlotCount = 3;

struct Notice {
  NoticeSlot slot = NoticeSlot::Warning;
  QString summary;
  QString body;
  bool critical = false;
  // The notification offers "Cancel shutdown", which closes the program.
  bool offersCancelShutdown = false;

  bool operator==(const Notice&) const = default;
};

// What the user chose in the window.
struct NotificationChoices {
  bool enabled = true;         // "Desktop notifications"
  bool ignoreWarnings = false;  // warning handling "Ignore"
};

inline const QString kShutdownArmedBody = QStringLiteral(
    "The computer powers off in 3 minutes unless the temperature falls. "
    "Close the control centre to cancel.");

class NotificationPolicy {
 public:
  // Conditions are followed even while notifications are off or warnings
  // ignored, so that switching them on mid-warning does not announce an old
  // condition as new.
  std::vector<Notice> OnSample(const StatusSample& sample, const NotificationChoices& choices);
  std::optional<Notice> OnLinkChanged(bool up, const NotificationChoices& choices);

 private:
  QString warning_;  // the standing warning's text; empty: none
  bool armed_ = false;
  bool linkLost_ = false;
};

// The warning's text: "Temperature warning on <name>" for a sensor's
// warning, otherwise what the status panel says.
QString WarningText(const StatusSample& sample);
