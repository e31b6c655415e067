// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/HistoryFeature.h"

#include "app/TForm1.h"
#include "history/HistoryWindow.h"
#include "monitor/StatusSample.h"

#include "ui_TForm1.h"

#include <QEvent>
#include <QRadioButton>

HistoryFeature::HistoryFeature(TForm1& form, const QString& path, QObject* parent)
    : QObject(parent), form_(form) {
  store_ = std::make_unique<HistoryStore>(path, [this](const QString& reason) { Failed(reason); });
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
}

HistoryFeature::~HistoryFeature() { delete window_.data(); }

void HistoryFeature::Failed(const QString& reason) {
  if (failureShown_) return;
  failureShown_ = true;
  if (StatusMessageQueue* queue = form_.Queue()) queue->Append(kHistoryNotSavedText.arg(reason));
}

void HistoryFeature::Sampled(const StatusSample& sample) {
  const HistoryPoint point = ToHistoryPoint(sample);
  store_->Append(point, ToHistorySensors(sample));
  if (window_) window_->AddPoint(point);
}

void HistoryFeature::LinkChanged(bool up) {
  const LinkEvent event{form_.Clock().Now().toMSecsSinceEpoch(), up};
  store_->NoteLink(event.ms, event.up);
  if (window_) window_->AddLinkEvent(event);
}

void HistoryFeature::OpenWindow() {
  if (!window_) {
    window_ = new HistoryWindow(*store_, [this] { return form_.Clock().Now(); });
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
}

bool HistoryFeature::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) OpenWindow();
  return QObject::eventFilter(watched, event);
}
