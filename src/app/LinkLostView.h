// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// While the unit does not answer, the System tab would go on showing its last
// readings and a green "Normal" as if all were well. This greys the readings
// and state panels, says above them since when there was no reply, and lets
// the notification-area hint tell the same, except that an armed shutdown
// keeps its blinking status and its alarm in the hint. Display only: the
// unit, the settings, the logs and the status the alarm logic reads see
// nothing of it.

#include <QDateTime>
#include <QObject>

#include <vector>

class TForm1;
class QLabel;

inline const QString kNoReplyTip = QStringLiteral("No reply from the unit since %1");

class LinkLostView : public QObject {
  Q_OBJECT
 public:
  explicit LinkLostView(TForm1& form, QObject* parent = nullptr);
  ~LinkLostView() override;

  void LinkStateChanged(bool up);
  // A text that matters more than the lost link (the armed shutdown's
  // countdown) takes the line while it is set; empty gives it back.
  void SetLineOverride(const QString& text);
  std::vector<QLabel*> Panels() const;
  // How the tooltip writes the time of the last reply.
  static QString TimeText(const QDateTime& time);

 private:
  void RefreshTrayHint();
  void ShowLine();
  TForm1& form_;
  QString noReplyText_, override_;
};
