// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HistoryFeature.h"

#include "app/TForm1.h"
#include "app/HistoryWindow.h"
#include "monitor/StatusSample.h"

#include "ui_TForm1.h"

#include <QEvent>
#include <QRadioButton>

HistoryFeature::HistoryFeature(TForm1& form, const QString& path, QObject* parent)
    : QObject(parent),
      form_(form),
      recorder_(path, [this](QtMsgType type, const QString& text) { Say(type, text); }) {
  connect(&form_, &TForm1::statusSampled, this, &HistoryFeature::Sampled);
  connect(&form_, &TForm1::linkStateChanged, this, &HistoryFeature::LinkChanged);
  connect(&form_, &TForm1::historyRequested, this, &HistoryFeature::OpenWindow);
  form_.ui().TempGroupBox->installEventFilter(this);
  // After the window's own handlers, which set the unit the charts read.
  for (QRadioButton* unit : {form_.ui().CelsiusRadioButton, form_.ui().FahrenheitRadioButton}) {
    connect(unit, &QRadioButton::clicked, this, [this] {
      if (window_) window_->Rebuild();
    });
  }
  if (!form_.LinkUp()) LinkChanged(false);
  // The window takes its first reply while it is being made, before anyone
  // can listen.
  if (form_.LastSample().time.isValid()) Sampled(form_.LastSample());
}

HistoryFeature::~HistoryFeature() { delete window_.data(); }

// The status bar shows a text only briefly; the program's messages (the
// journal, for a desktop start) keep it.
void HistoryFeature::Say(QtMsgType type, const QString& text) {
  JournalHistoryNotice(type, text);
  if (StatusMessageQueue* queue = form_.Queue()) queue->Append(text);
}

void HistoryFeature::Sampled(const StatusSample& sample) {
  const HistoryPoint point = recorder_.Sampled(sample);
  if (window_) window_->AddPoint(point);
}

void HistoryFeature::LinkChanged(bool up) {
  const LinkEvent event = recorder_.LinkChanged(up, form_.Clock().Now());
  if (window_) window_->AddLinkEvent(event);
}

void HistoryFeature::OpenWindow() {
  if (!window_) {
    window_ = new HistoryWindow(recorder_.Store(), [this] { return form_.Clock().Now(); });
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
}

bool HistoryFeature::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) OpenWindow();
  return QObject::eventFilter(watched, event);
}
