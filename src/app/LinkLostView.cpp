// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/LinkLostView.h"

#include "app/TForm1.h"
#include "host/CPUThread.h"
#include "host/TrayHint.h"

#include "ui_TForm1.h"

#include <QLabel>
#include <QLocale>

LinkLostView::LinkLostView(TForm1& form, QObject* parent) : QObject(parent), form_(form) {
  connect(&form_, &TForm1::linkStateChanged, this, &LinkLostView::LinkStateChanged);
  // The link may already have failed during start-up, before anyone listened.
  if (!form_.LinkUp()) LinkStateChanged(false);
}

LinkLostView::~LinkLostView() {
  TrayHintLinkLost.Set(QString());
}

std::vector<QLabel*> LinkLostView::Panels() const {
  Ui::TForm1& u = form_.ui();
  return {u.SystemStatPanel, u.Temp1,   u.Temp2,   u.Temp3,          u.Temp4,
          u.Temp5,           u.TempStat1, u.TempStat2, u.TempStat3,   u.TempStat4,
          u.TempStat5,       u.FanRPM1, u.FanRPM2, u.Fan1StatusLabel, u.Fan2StatusLabel};
}

QString LinkLostView::TimeText(const QDateTime& time) {
  return QLocale().toString(time, QLocale::ShortFormat);
}

void LinkLostView::LinkStateChanged(bool up) {
  // Before the first reply there is no reading to doubt but the start itself.
  const QDateTime since = form_.LastReplyTime().isValid() ? form_.LastReplyTime() : form_.Clock().Now();
  const QString tip = up ? QString() : kNoReplyTip.arg(TimeText(since));
  // An armed shutdown runs whether the unit answers or not: its red and
  // silver blink and the alarm in the hint must stay in sight. (Only a
  // reply can arm or cancel it, so this holds until the link is back.)
  const bool armed = form_.Alarm().ShutDownTimer.isActive();
  // A disabled panel draws its text in the palette's greyed colours; the
  // colours the status cycle sets (and reads back) stay as they were.
  for (QLabel* panel : Panels()) {
    panel->setEnabled(up || (armed && panel == form_.ui().SystemStatPanel));
    panel->setToolTip(tip);
  }
  noReplyText_ = tip;
  ShowLine();
  TrayHintLinkLost.Set(up || armed ? QString() : kLinkLostText);
  RefreshTrayHint();
}

void LinkLostView::SetLineOverride(const QString& text) {
  override_ = text;
  ShowLine();
}

void LinkLostView::ShowLine() {
  QLabel* line = form_.ui().LinkLostLabel;
  const QString& text = override_.isEmpty() ? noReplyText_ : override_;
  line->setText(text);
  line->setVisible(!text.isEmpty());
}

void LinkLostView::RefreshTrayHint() {
  if (CPUThread* sampler = form_.CpuSampler()) sampler->UpdateTrayHint();
}
