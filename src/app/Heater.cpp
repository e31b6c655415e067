// SPDX-License-Identifier: GPL-3.0-or-later
// The heater group's handlers and the heating-reduction dialog.

#include "app/Heater.h"
#include "core/Guard.h"

#include "app/Accessibility.h"
#include "app/TForm1.h"
#include "widgets/BootTemperature.h"
#include "widgets/Palette.h"

#include "ui_TForm1.h"
#include "ui_TForm2.h"

#include <QApplication>
#include <QTime>

#include <cmath>
#include <exception>

namespace {

constexpr double kMsPerDay = 86'400'000.0;

QColor WindowTextColor(const QWidget* w) { return QApplication::palette(w).color(QPalette::WindowText); }

void ShowPanel(QLabel* panel, const QString& text) {
  panel->setText(text);
  panel->repaint();
}

}  // namespace

bool ReductionRuns(double reductionEnd) {
  return std::llround((reductionEnd - kReductionBase) * kMsPerDay) > 0;
}

QString RemainingTimeText(double reductionEnd) {
  const double fraction = reductionEnd - std::floor(reductionEnd);
  const long long ms = std::llround(fraction * kMsPerDay) % static_cast<long long>(kMsPerDay);
  return QString::number((ms / 60000) % 60) + QStringLiteral(" Min");
}

// ---------------------------------------------------------------------------
// TForm2

TForm2::TForm2(QWidget* owner, double& reductionEnd, bool& modalDialogOpen)
    : QDialog(owner), ui_(std::make_unique<Ui::TForm2>()), reductionEnd_(reductionEnd),
      modalDialogOpen_(modalDialogOpen) {
  ui_->setupUi(this);
  NameDialogControls(*this);
  setFixedSize(sizeHint().expandedTo(QSize(287, 200)));
  ui_->HeatingTimer->setTime(QTime(0, 0));
  connect(ui_->OkButton, &QPushButton::clicked, this, &TForm2::OkButtonClick);
  connect(ui_->CancelButton, &QPushButton::clicked, this, &TForm2::CancelButtonClick);
}

TForm2::~TForm2() = default;

void TForm2::OkButtonClick() {
  reductionEnd_ = kReductionBase + ui_->HeatingTimer->time().msecsSinceStartOfDay() / kMsPerDay;
  accept();
}

void TForm2::CancelButtonClick() {
  reductionEnd_ = kReductionBase;
  reject();
}

void TForm2::done(int result) {
  modalDialogOpen_ = false;
  QDialog::done(result);
}

// ---------------------------------------------------------------------------
// Main window

void TForm1::ConnectHeaterHandlers() {
  connect(ui_->HeatingSlider, &QSlider::valueChanged, this, &TForm1::HeatingSliderChange);
  connect(&heatingCountDownTimer_, &QTimer::timeout, this, &TForm1::HeatingCountDownTimerTimer);
  InstallBootTempDrawing(ui_->BootTempComboBox);
}

void TForm1::HeatingSliderChange() {
  if (modalDialogOpen_) return;
  Guarded(report_, [&] {
    Ui::TForm1& u = *ui_;
    if (u.HeatingSlider->value() < 7 && !ReductionRuns(reductionEnd_)) {
      TForm2 dialog(this, reductionEnd_, modalDialogOpen_);
      modalDialogOpen_ = true;
      services_.boxes->ExecModal(dialog);
      modalDialogOpen_ = false;
    }

    if (ReductionRuns(reductionEnd_)) {
      // Moving the slider during a reduction must not push the next minute back.
      if (!heatingCountDownTimer_.isActive()) heatingCountDownTimer_.start();
      ShowPanel(u.HeatingTimerPanel, RemainingTimeText(reductionEnd_));
      u.HeaterReduceLabel->setEnabled(true);
      // Until the next status report replaces it.
      watch_->Model().status = {QStringLiteral("Heating Reduced"), PanelColour::Orange};
      ShowStatusPanel();
      u.SystemStatPanel->repaint();
    } else {
      SetTextColor(u.EffectLabel, WindowTextColor(u.EffectLabel));
      heatingCountDownTimer_.stop();
      // Without a reduction the heater does not go below 70 %; this runs the
      // handler once more, for position 7.
      if (u.HeatingSlider->value() < 7) u.HeatingSlider->setValue(7);
      watch_->Model().status = {QStringLiteral("Normal"), PanelColour::Green};
      ShowStatusPanel();
      u.SystemStatPanel->repaint();
    }

    const int position = u.HeatingSlider->value();
    if (position <= 6) {
      SetTextColor(u.EffectLabel, StatusRed);
    } else if (position <= 9) {
      SetTextColor(u.EffectLabel, StatusOrange);
    } else {
      SetTextColor(u.EffectLabel, WindowTextColor(u.EffectLabel));
      reductionEnd_ = kReductionBase;
      heatingCountDownTimer_.stop();
      ShowPanel(u.HeatingTimerPanel, RemainingTimeText(kReductionBase));
      u.HeaterReduceLabel->setEnabled(false);
    }
  });
}

void TForm1::HeatingCountDownTimerTimer() {
  if (Terminating()) return;
  Guarded(report_, [&] {
    Ui::TForm1& u = *ui_;
    if (ReductionRuns(reductionEnd_)) {
      reductionEnd_ -= kOneMinuteInDays;
      ShowPanel(u.HeatingTimerPanel, RemainingTimeText(reductionEnd_));
    }
    if (!ReductionRuns(reductionEnd_)) {
      heatingCountDownTimer_.stop();
      // Full power again; the slider's handler shows "0 Min" and "Normal".
      u.HeatingSlider->setValue(10);
      reductionEnd_ = kReductionBase;
      u.HeaterReduceLabel->setEnabled(false);
    }
  });
}
