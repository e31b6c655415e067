// SPDX-License-Identifier: GPL-3.0-or-later
// The heater group's slider, reduction dialog and countdown, and the boot
// temperature list drawn in the display unit.

#include "../app/WindowFixture.h"
#include "widgets/BootTemperature.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "widgets/Palette.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimeEdit>

namespace {

class HeaterTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    Start();
    // The group is built hidden and disabled; shown here as if offered.
    ui().PageControl1->setCurrentWidget(ui().TabSheet5);
    ui().HeaterComboBox->setVisible(true);
    ui().HeaterComboBox->setEnabled(true);
    fakes.boxes.onExec = [this](QDialog& d) {
      opened << d.objectName();
      EXPECT_TRUE(form->ModalDialogOpen());
      if (answer) answer(d);
      return d.result();
    };
  }
  void AnswerMinutes(int minutes) {
    answer = [minutes](QDialog& d) {
      d.findChild<QTimeEdit*>("HeatingTimer")->setTime(QTime(0, minutes));
      d.findChild<QPushButton*>("OkButton")->click();
    };
  }
  QString Panel() { return ui().HeatingTimerPanel->text(); }
  QColor EffectColour() { return TextColor(ui().EffectLabel); }
  QColor WindowText() { return QApplication::palette(ui().EffectLabel).color(QPalette::WindowText); }
  void ExpectNoReduction() {
    EXPECT_EQ(Panel(), "0 Min");
    EXPECT_FALSE(form->HeatingCountDownTimer().isActive());
    EXPECT_FALSE(ui().HeaterReduceLabel->isEnabled());
    EXPECT_EQ(form->ReductionEnd(), kReductionBase);
  }

  QStringList opened;
  std::function<void(QDialog&)> answer;
};

TEST_F(HeaterTest, CancellingTheDialogPutsTheSliderTo7) {
  answer = [](QDialog& d) { d.findChild<QPushButton*>("CancelButton")->click(); };
  ui().HeatingSlider->setValue(6);
  EXPECT_EQ(opened, QStringList{"TForm2"});
  EXPECT_EQ(ui().HeatingSlider->value(), 7);
  EXPECT_EQ(EffectColour(), StatusOrange);
  EXPECT_EQ(ui().SystemStatPanel->text(), "Normal");
  EXPECT_EQ(TextColor(ui().SystemStatPanel), StatusGreen);
  EXPECT_FALSE(form->ModalDialogOpen());
  EXPECT_FALSE(form->HeatingCountDownTimer().isActive());

  // The close box and OK with 0 minutes start no reduction either.
  answer = [](QDialog& d) {
    d.findChild<QTimeEdit*>("HeatingTimer")->setTime(QTime(0, 15));
    d.reject();
  };
  ui().HeatingSlider->setValue(2);
  AnswerMinutes(0);
  ui().HeatingSlider->setValue(4);
  EXPECT_EQ(opened.size(), 3);
  EXPECT_EQ(ui().HeatingSlider->value(), 7);
  EXPECT_FALSE(form->HeatingCountDownTimer().isActive());
  EXPECT_FALSE(form->ModalDialogOpen());
}

TEST_F(HeaterTest, AFifteenMinuteReductionCountsDownToFullPower) {
  AnswerMinutes(15);
  ui().HeatingSlider->setValue(5);
  EXPECT_EQ(Panel(), "15 Min");
  EXPECT_TRUE(ui().HeaterReduceLabel->isEnabled());
  EXPECT_EQ(EffectColour(), StatusRed);
  EXPECT_EQ(ui().SystemStatPanel->text(), "Heating Reduced");
  EXPECT_EQ(TextColor(ui().SystemStatPanel), StatusOrange);
  EXPECT_TRUE(form->HeatingCountDownTimer().isActive());

  form->HeatingCountDownTimerTimer();
  EXPECT_EQ(Panel(), "14 Min");
  for (int tick = 2; tick <= 14; ++tick) form->HeatingCountDownTimerTimer();
  EXPECT_EQ(Panel(), "1 Min");
  EXPECT_EQ(ui().HeatingSlider->value(), 5);
  EXPECT_TRUE(form->HeatingCountDownTimer().isActive());

  form->HeatingCountDownTimerTimer();
  EXPECT_EQ(ui().HeatingSlider->value(), 10);
  EXPECT_EQ(EffectColour(), WindowText());
  EXPECT_EQ(ui().SystemStatPanel->text(), "Normal");
  ExpectNoReduction();
  EXPECT_EQ(opened.size(), 1);
}

TEST_F(HeaterTest, DuringAReductionTheSliderAsksNothingKeepsTheTimeLeftAndAt10EndsIt) {
  AnswerMinutes(15);
  ui().HeatingSlider->setValue(5);
  form->HeatingCountDownTimerTimer();
  form->HeatingCountDownTimerTimer();
  ui().HeatingTimerPanel->setText("?");
  ui().HeatingSlider->setValue(3);
  EXPECT_EQ(Panel(), "13 Min");
  EXPECT_EQ(EffectColour(), StatusRed);
  EXPECT_TRUE(form->HeatingCountDownTimer().isActive());

  ui().HeatingSlider->setValue(10);
  EXPECT_EQ(opened.size(), 1);
  ExpectNoReduction();
  EXPECT_EQ(EffectColour(), WindowText());
}

// --- boot temperature ---------------------------------------------------------

TEST_F(HeaterTest, TheBootListIsDrawnInFahrenheitButStillSendsCelsius) {
  QComboBox* box = ui().BootTempComboBox;
  auto* delegate = qobject_cast<QStyledItemDelegate*>(box->itemDelegate());
  ASSERT_NE(delegate, nullptr);
  auto drawn = [&](int item) { return delegate->displayText(box->itemText(item), QLocale()); };
  EXPECT_EQ(drawn(20), "-20");
  box->setCurrentIndex(20);
  const QImage celsius = box->grab().toImage();

  ui().FahrenheitRadioButton->click();
  ASSERT_FALSE(CelsiusFlag);
  EXPECT_EQ(drawn(40), "-40");
  EXPECT_EQ(drawn(20), "-4");
  EXPECT_EQ(drawn(1), "30");
  EXPECT_EQ(drawn(0), "32");
  EXPECT_EQ(box->itemText(20), "-20");  // the items keep their Celsius values
  EXPECT_NE(box->grab().toImage(), celsius) << "the closed box still shows Celsius";

  ASSERT_TRUE(form->Settings().Pending[PendingBootTemperature]);
  fakes.link.requests.clear();
  form->Settings().WriteChangesTimerTimer();
  const std::vector<Bytes> sent = fakes.link.RequestsNumbered(0x03);
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(sent[0].size(), 28u);
  EXPECT_EQ(static_cast<std::int16_t>(sent[0][3 + 6] | (sent[0][3 + 7] << 8)), -200);
  EXPECT_EQ(SettingsKey(fakes.settingsPath(), SettingsKey::Open::Existing).ReadInteger(settings::kBootIndex), 20);
}

}  // namespace
