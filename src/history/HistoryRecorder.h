// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The history as the watch records it: every status sample and every change
// of the link goes into the store, and when the file stops (or starts again)
// taking them, that is said through the notice function the program gives.
// Connects straight to the status cycle's statusSampled, and to the
// exchange's linkStateChanged with the time stamped by the caller; a view of
// the history is handed what each call stored.

#include "history/HistoryStore.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

struct StatusSample;

inline const QString kHistoryNotSavedText = QStringLiteral("History is not being saved: %1");
inline const QString kHistorySavedAgainText = QStringLiteral("History is being saved again");

// The program's messages (the journal, for a service or a desktop start), at
// the level given: a warning when saving stops, information when it resumes.
void JournalHistoryNotice(QtMsgType type, const QString& text);

class HistoryRecorder : public QObject {
  Q_OBJECT
 public:
  using Notify = std::function<void(QtMsgType type, const QString& text)>;

  // Opens the store at once (an empty path: memory only), so a file that
  // cannot be used is said before the first sample. The store says each
  // notice once per spell, however many samples the spell lasts.
  explicit HistoryRecorder(const QString& path, Notify notify = JournalHistoryNotice, QObject* parent = nullptr);
  ~HistoryRecorder() override;

  HistoryStore& Store() { return *store_; }
  const HistoryStore& Store() const { return *store_; }

  // Returns what was stored, for a view that shows it as it comes.
  HistoryPoint Sampled(const StatusSample& sample);
  LinkEvent LinkChanged(bool up, const QDateTime& at);

 private:
  Notify notify_;
  // After notify_: the store may still be saving as it goes.
  std::unique_ptr<HistoryStore> store_;
};
