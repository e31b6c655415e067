// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowTexts.h"

#include "monitor/DeviceData.h"

#include "ui_TForm1.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QSignalBlocker>
#include <QStringList>

namespace {

const QString kTitle = QStringLiteral("Vornalith Control Centre 1.22");

// Empties the list, refills it and selects the start item without a single
// change signal, also from the edit field of an editable list (its text
// follows the selection).
void FillList(QComboBox* box, const QStringList& items, int startIndex) {
  const QSignalBlocker blockBox(box);
  const QSignalBlocker blockEdit(box->lineEdit());
  box->clear();
  box->addItems(items);
  box->setCurrentIndex(startIndex);
}

void SetSystemTexts(Ui::TForm1& ui) {
  ui.OverallGroupBox->setTitle(QStringLiteral("Overall"));
  ui.StatusLabel->setText(QStringLiteral("Status"));
  ui.SpeedLoadLabel->setText(QStringLiteral("CPU speed"));
  ui.LoadLabel->setText(QStringLiteral("CPU load"));
  ui.TempGroupBox->setTitle(QStringLiteral("Temperatures"));
  ui.FanGroupBox->setTitle(QStringLiteral("Fans"));
  ui.Fan1Label->setText(QStringLiteral("Front (Condenser)"));
  ui.Fan2Label->setText(QStringLiteral("Rear  (Exhaust)"));
}

void SetSetupTexts(Ui::TForm1& ui) {
  ui.SetupTempGroupBox->setTitle(QStringLiteral("Temperatures"));
  ui.SetupSensorLabel->setText(QStringLiteral("Sensor name/location"));
  ui.WhenLabel->setText(QStringLiteral("When"));
  ui.SetupAlm->setText(QStringLiteral("Warning"));
  ui.SetupShDn->setText(QStringLiteral("Shut-down"));
  ui.EvaporatorEdit->setText(QStringLiteral("Evaporator"));
  ui.Sensor1Edit->setText(QStringLiteral("Higher"));
  ui.FanSetupGroupBox->setTitle(QStringLiteral("Fans"));
  ui.PositionLabel->setText(QStringLiteral("Position"));
  ui.ModeLabel->setText(QStringLiteral("Mode"));
  ui.ManualLabel->setText(QStringLiteral("Manual"));
  ui.FanMinLabel->setText(QStringLiteral("Min"));
  ui.FanMaxLabel->setText(QStringLiteral("Max"));
  ui.FrontFanLabel->setText(QStringLiteral("Front (Condenser)"));
  ui.RearFanLabel->setText(QStringLiteral("Rear  (Exhaust)"));

  const QStringList sensor2Names{kSensorOptional,
                                 QStringLiteral("Ambient"),
                                 QStringLiteral("Surface microfreezer"),
                                 QStringLiteral("Surface rearcover"),
                                 QStringLiteral("Compressor"),
                                 QStringLiteral("Graphic Processor"),
                                 QStringLiteral("Harddisk")};
  // Sensors 3 to 5 are not offered "Ambient".
  QStringList otherNames = sensor2Names;
  otherNames.removeAt(1);
  FillList(ui.SetupSensorComboBox2, sensor2Names, 0);
  for (QComboBox* box : {ui.SetupSensorComboBox3, ui.SetupSensorComboBox4, ui.SetupSensorComboBox5})
    FillList(box, otherNames, 0);

  const QStringList higherLower{QStringLiteral("Higher"), QStringLiteral("Lower")};
  for (QComboBox* box : {ui.Par2HighLow, ui.Par3HighLow, ui.Par4HighLow, ui.Par5HighLow})
    FillList(box, higherLower, 0);

  const QStringList fanModes{QStringLiteral("Normal"), QStringLiteral("Low noise"),
                             QStringLiteral("Turbo"), QStringLiteral("Manual")};
  FillList(ui.FrontFanModeComboBox, fanModes, 0);
  FillList(ui.RearFanModeComboBox, fanModes, 0);
}

void SetDisplayTexts(Ui::TForm1& ui) {
  ui.Display1GroupBox->setTitle(QStringLiteral("Display line 1"));
  ui.DisplayLine1Label->setText(QStringLiteral("Select the text for display line 1."));
  ui.PrimaryTextLabel->setText(QStringLiteral("Primary text"));
  ui.SecondaryTextLabel->setText(QStringLiteral("Secondary text"));
  ui.IntervalLabel->setText(QStringLiteral("Interval"));
  ui.Display2GroupBox->setTitle(QStringLiteral("Display line 2"));
  ui.DisplayLine2Label->setText(QStringLiteral("Select the parameters for display line 2."));
  ui.Para1Label->setText(QStringLiteral("Parameter 1"));
  ui.Para2Label->setText(QStringLiteral("Parameter 2"));
  ui.Para3Label->setText(QStringLiteral("Parameter 3"));
  ui.TrayIconGroupBox->setTitle(QStringLiteral("Tray Icon"));
  ui.TraySelLabel1->setText(QStringLiteral("Select tray icon text"));
  ui.WarningHandlingGroupBox->setTitle(QStringLiteral("Warning Handling"));
  ui.WarningHandLabel1->setText(QStringLiteral("Select which even to trigger"));

  FillList(ui.DispLine1Int,
           {QStringLiteral("5 Sec"), QStringLiteral("10 Sec"), QStringLiteral("30 Sec"),
            QStringLiteral("1 Min"), QStringLiteral("3 Min"), QStringLiteral("5 Min"),
            QStringLiteral("10 Min"), QStringLiteral("Never")},
           0);

  const QStringList line1Texts{QStringLiteral("Speed Load Temp"), QStringLiteral("Vornalith"),
                               QStringLiteral("Quelmark"),        QStringLiteral("Super Cooled"),
                               QStringLiteral("Mean Machine"),    QStringLiteral("Your own Text")};
  FillList(ui.PrimaryTextComboBox, line1Texts, 0);
  FillList(ui.SecondaryTextComboBox, line1Texts, 2);

  // The last item stands for "nothing" and is three blanks wide.
  const QStringList parameters{QStringLiteral("Evaporator temp."), QStringLiteral("Sensor 2 temp."),
                               QStringLiteral("Sensor 3 temp"),    QStringLiteral("Sensor 4 temp"),
                               QStringLiteral("Sensor 5 temp"),    QStringLiteral("CPU Speed"),
                               QStringLiteral("CPU Load"),         QStringLiteral("   ")};
  FillList(ui.DispParam1, parameters, 5);
  FillList(ui.DispParam2, parameters, 6);
  FillList(ui.DispParam3, parameters, 0);

  FillList(
      ui.IconShowComboBox,
      {QStringLiteral("Evaporator temp."), QStringLiteral("Sensor 2 temp."),
       QStringLiteral("Sensor 3 temp."), QStringLiteral("Sensor 4 temp."),
       QStringLiteral("Sensor 5 temp."), QStringLiteral("CPU speed"), QStringLiteral("CPU load")},
      0);
  FillList(ui.WarningHandlingComboBox,
           {QStringLiteral("Alarm Sound"), QStringLiteral("Blinking tray icon"),
            QStringLiteral("Open control center"), QStringLiteral("Ignore")},
           0);
}

void SetMiscTexts(Ui::TForm1& ui) {
  ui.OperationGroupBox->setTitle(QStringLiteral("Operation Log"));
  ui.ViewLogButton->setText(QStringLiteral("&View"));
  ui.ClearLogButton->setText(QStringLiteral("&Clear"));
  ui.ErrorGroupBox->setTitle(QStringLiteral("Error Log"));
  ui.ErrorViewButton->setText(QStringLiteral("V&iew"));
  ui.SendButton->setText(QStringLiteral("Report"));
  ui.TotalGroupBox->setTitle(QStringLiteral("Total"));
  ui.TotalHourlabel->setText(QStringLiteral("Operation hours"));
  ui.BootGroupBox->setTitle(QStringLiteral("Boot Control"));
  ui.BootControlLabel->setText(QStringLiteral("Boot temperature"));
  ui.TempFormatGroupBox->setTitle(QStringLiteral("Temperature Format"));
  ui.CelsiusRadioButton->setText(QStringLiteral("Celsius"));
  ui.FahrenheitRadioButton->setText(QStringLiteral("Fahrenheit"));
  ui.HeaterComboBox->setTitle(QStringLiteral("Heater Control"));
  ui.EffectLabel->setText(QStringLiteral("Effect"));
  ui.ZeroEffectLabel->setText(QStringLiteral("0%"));
  ui.Effect100Label->setText(QStringLiteral("100%"));
  ui.HeaterReduceLabel->setText(QStringLiteral("Remaning time heating is reduced"));
}

}  // namespace

void FillBootTempComboBox(QComboBox* box) {
  QStringList items;
  for (int degrees = 0; degrees <= 40; ++degrees) items << QString::number(-degrees);
  FillList(box, items, 33);
}

void ApplyWindowTexts(Ui::TForm1& ui, QMainWindow* window) {
  // The display name is also the caption of the program's message boxes.
  if (qApp) QApplication::setApplicationDisplayName(kTitle);
  if (window) window->setWindowTitle(kTitle);

  QTabWidget* pages = ui.PageControl1;
  pages->setTabText(pages->indexOf(ui.TabSheet1), QStringLiteral("System"));
  pages->setTabText(pages->indexOf(ui.TabSheet2), QStringLiteral("Setup"));
  pages->setTabText(pages->indexOf(ui.TabSheet4), QStringLiteral("Display"));
  pages->setTabText(pages->indexOf(ui.TabSheet5), QStringLiteral("Misc."));
  pages->setTabText(pages->indexOf(ui.TabSheet3), QStringLiteral("RTC"));

  SetSystemTexts(ui);
  SetSetupTexts(ui);
  SetDisplayTexts(ui);
  SetMiscTexts(ui);

  // The hour and minute lists are editable, and an edit field shows no hint of
  // its own list.
  for (QComboBox* box : ui.GroupBox8->findChildren<QComboBox*>())
    if (box->lineEdit()) box->lineEdit()->setPlaceholderText(box->placeholderText());

  // The weekday page is dormant: built, never offered.
  pages->setTabVisible(pages->indexOf(ui.TabSheet3), false);
  pages->setCurrentWidget(ui.TabSheet1);
}
