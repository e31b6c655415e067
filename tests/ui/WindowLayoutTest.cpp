// SPDX-License-Identifier: GPL-3.0-or-later
// The window layouts and the texts applied at start. The handlers reach their
// controls through the generated Ui members, so the compiler checks names and
// kinds; these tests check what it cannot: what the user reads, the choice
// lists and their start items, and the start-up state the handlers rely on.

#include "app/WindowTexts.h"
#include "monitor/QStringPrinter.h"
#include "ui_TClearLogForm.h"
#include "ui_TForm1.h"
#include "ui_TForm2.h"
#include "ui_TReminderForm.h"
#include "widgets/Palette.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QSet>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

const QStringList kWeekdays{"Monday", "Tuesday", "Wednesday", "Thursday", "Friday"};

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

// The caption a label, group, button or edit field shows.
QString Caption(const QWidget* w) {
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
  return QStringLiteral("<no caption>");
}

class MainWindowLayout : public ::testing::Test {
 protected:
  void SetUp() override { ui.setupUi(&window); }

  void ApplyTexts() {
    FillBootTempComboBox(ui.BootTempComboBox);
    ApplyWindowTexts(ui, &window);
  }

  template <class T>
  T* Find(const QString& name) {
    return window.findChild<T*>(name);
  }

  QMainWindow window;
  Ui::TForm1 ui;
};

// A reading sits on a sunken silver panel whose text colour is the state shown.
TEST_F(MainWindowLayout, ReadingsSitOnSunkenSilverPanels) {
  QStringList panels{"SystemStatPanel", "CPUSpeedLoadPanel", "FanRPM1",           "FanRPM2",
                     "Fan1StatusLabel", "Fan2StatusLabel",   "OperHours",         "HeatingTimerPanel",
                     "SetupTime",       "SetupDate"};
  panels << kWeekdays;
  for (int i = 1; i <= 5; ++i)
    for (const QString pattern : {"ShowSensor%1", "Temp%1", "TempStat%1"}) panels << pattern.arg(i);
  for (const QString& name : panels) {
    SCOPED_TRACE(name.toStdString());
    auto* panel = Find<QLabel>(name);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->frameShape(), QFrame::Panel);
    EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);
    EXPECT_TRUE(panel->autoFillBackground());
    EXPECT_EQ(panel->palette().color(QPalette::Active, QPalette::Window), BlinkSilver);
  }
}

// The page order fixes the help context of each page; the RTC page is never offered.
TEST_F(MainWindowLayout, OffersFourPagesWithSystemInFront) {
  QTabWidget* pages = ui.PageControl1;
  pages->setCurrentIndex(2);
  ApplyTexts();

  ASSERT_EQ(pages->count(), 5);
  const QStringList sheets{"TabSheet1", "TabSheet2", "TabSheet4", "TabSheet5", "TabSheet3"};
  const QStringList captions{"System", "Setup", "Display", "Misc.", "RTC"};
  QStringList shown;
  for (int i = 0; i < pages->count(); ++i) {
    EXPECT_EQ(pages->widget(i)->objectName(), sheets[i]);
    EXPECT_EQ(pages->tabText(i), captions[i]);
    if (pages->isTabVisible(i)) shown << pages->tabText(i);
  }
  EXPECT_EQ(shown, (QStringList{"System", "Setup", "Display", "Misc."}));
  EXPECT_EQ(pages->currentIndex(), 0);
  EXPECT_FALSE(ui.TabSheet3->isEnabled());
}

// Every text and list is stamped over a stand-in first: one that start-up
// forgot would keep it.
TEST_F(MainWindowLayout, RunTimeTextsAndListsReplaceWhatTheLayoutHolds) {
  const QString stale = QStringLiteral("#layout#");
  window.setWindowTitle(stale);
  for (auto* w : window.findChildren<QLabel*>()) w->setText(stale);
  for (auto* w : window.findChildren<QGroupBox*>()) w->setTitle(stale);
  for (auto* w : window.findChildren<QAbstractButton*>()) w->setText(stale);
  for (auto* w : window.findChildren<QLineEdit*>()) w->setText(stale);
  for (auto* w : window.findChildren<QComboBox*>()) {
    w->clear();
    w->addItems({stale, stale});
    w->setCurrentIndex(1);
  }
  ApplyTexts();

  EXPECT_EQ(window.windowTitle(), "Vornalith Control Centre 1.22");
  EXPECT_EQ(QApplication::applicationDisplayName(), "Vornalith Control Centre 1.22");

  const Ui::TForm1& u = ui;
  const std::vector<std::pair<const QWidget*, const char*>> captions{
      // System
      {u.OverallGroupBox, "Overall"}, {u.StatusLabel, "Status"},
      {u.SpeedLoadLabel, "CPU speed"}, {u.LoadLabel, "CPU load"},
      {u.TempGroupBox, "Temperatures"}, {u.FanGroupBox, "Fans"},
      {u.Fan1Label, "Front (Condenser)"}, {u.Fan2Label, "Rear  (Exhaust)"},
      // Setup
      {u.SetupTempGroupBox, "Temperatures"}, {u.SetupSensorLabel, "Sensor name/location"},
      {u.WhenLabel, "When"}, {u.SetupAlm, "Warning"}, {u.SetupShDn, "Shut-down"},
      {u.EvaporatorEdit, "Evaporator"}, {u.Sensor1Edit, "Higher"},
      {u.FanSetupGroupBox, "Fans"}, {u.PositionLabel, "Position"}, {u.ModeLabel, "Mode"},
      {u.ManualLabel, "Manual"}, {u.FanMinLabel, "Min"}, {u.FanMaxLabel, "Max"},
      {u.FrontFanLabel, "Front (Condenser)"}, {u.RearFanLabel, "Rear  (Exhaust)"},
      // Display
      {u.Display1GroupBox, "Display line 1"},
      {u.DisplayLine1Label, "Select the text for display line 1."},
      {u.PrimaryTextLabel, "Primary text"}, {u.SecondaryTextLabel, "Secondary text"},
      {u.IntervalLabel, "Interval"}, {u.Display2GroupBox, "Display line 2"},
      {u.DisplayLine2Label, "Select the parameters for display line 2."},
      {u.Para1Label, "Parameter 1"}, {u.Para2Label, "Parameter 2"}, {u.Para3Label, "Parameter 3"},
      {u.TrayIconGroupBox, "Tray Icon"}, {u.TraySelLabel1, "Select tray icon text"},
      {u.WarningHandlingGroupBox, "Warning Handling"},
      {u.WarningHandLabel1, "Select which even to trigger"},
      // Misc.
      {u.OperationGroupBox, "Operation Log"}, {u.ViewLogButton, "&View"},
      {u.ClearLogButton, "&Clear"}, {u.ErrorGroupBox, "Error Log"},
      {u.ErrorViewButton, "V&iew"}, {u.SendButton, "Report"}, {u.TotalGroupBox, "Total"},
      {u.TotalHourlabel, "Operation hours"}, {u.BootGroupBox, "Boot Control"},
      {u.BootControlLabel, "Boot temperature"}, {u.TempFormatGroupBox, "Temperature Format"},
      {u.CelsiusRadioButton, "Celsius"}, {u.FahrenheitRadioButton, "Fahrenheit"},
      {u.HeaterComboBox, "Heater Control"}, {u.EffectLabel, "Effect"},
      {u.ZeroEffectLabel, "0%"}, {u.Effect100Label, "100%"},
      {u.HeaterReduceLabel, "Remaning time heating is reduced"},
  };
  for (const auto& [w, text] : captions)
    EXPECT_EQ(Caption(w), QString(text)) << w->objectName().toStdString();

  const QStringList sensor2{"Optional",          "Ambient",    "Surface microfreezer",
                            "Surface rearcover", "Compressor", "Graphic Processor",
                            "Harddisk"};
  const QStringList sensors{"Optional",   "Surface microfreezer", "Surface rearcover",
                            "Compressor", "Graphic Processor",    "Harddisk"};
  const QStringList higherLower{"Higher", "Lower"};
  const QStringList modes{"Normal", "Low noise", "Turbo", "Manual"};
  const QStringList line1{"Speed Load Temp", "Vornalith",    "Quelmark",
                          "Super Cooled",    "Mean Machine", "Your own Text"};
  const QStringList params{"Evaporator temp.", "Sensor 2 temp.", "Sensor 3 temp", "Sensor 4 temp",
                           "Sensor 5 temp",    "CPU Speed",      "CPU Load",      "   "};
  QStringList boot;
  for (int i = 0; i <= 40; ++i) boot << QString::number(-i);
  struct List {
    const QComboBox* box;
    QStringList items;
    int start;
  };
  const std::vector<List> lists{
      {u.SetupSensorComboBox2, sensor2, 0}, {u.SetupSensorComboBox3, sensors, 0},
      {u.SetupSensorComboBox4, sensors, 0}, {u.SetupSensorComboBox5, sensors, 0},
      {u.Par2HighLow, higherLower, 0},      {u.Par3HighLow, higherLower, 0},
      {u.Par4HighLow, higherLower, 0},      {u.Par5HighLow, higherLower, 0},
      {u.FrontFanModeComboBox, modes, 0},   {u.RearFanModeComboBox, modes, 0},
      {u.DispLine1Int, {"5 Sec", "10 Sec", "30 Sec", "1 Min", "3 Min", "5 Min", "10 Min", "Never"}, 0},
      {u.PrimaryTextComboBox, line1, 0},    {u.SecondaryTextComboBox, line1, 2},
      {u.DispParam1, params, 5}, {u.DispParam2, params, 6}, {u.DispParam3, params, 0},
      {u.IconShowComboBox,
       {"Evaporator temp.", "Sensor 2 temp.", "Sensor 3 temp.", "Sensor 4 temp.", "Sensor 5 temp.",
        "CPU speed", "CPU load"},
       0},
      {u.WarningHandlingComboBox, {"Alarm Sound", "Blinking tray icon", "Open control center", "Ignore"}, 0},
      {u.BootTempComboBox, boot, 33},
  };
  for (const auto& list : lists) {
    SCOPED_TRACE(list.box->objectName().toStdString());
    EXPECT_EQ(Items(list.box), list.items);
    EXPECT_EQ(list.box->currentIndex(), list.start);
    // An editable list shows its start item, not a text left in its edit field.
    EXPECT_EQ(list.box->currentText(), list.items.value(list.start));
  }
  EXPECT_EQ(ui.BootTempComboBox->currentText(), "-33");
}

// The change handlers save and send what they see; the start-up filling must not
// look to them like a choice of the user, not even a second time.
TEST_F(MainWindowLayout, FillingTheListsFiresNoChangeSignal) {
  std::vector<std::pair<QString, std::unique_ptr<QSignalSpy>>> spies;
  for (auto* box : window.findChildren<QComboBox*>()) {
    const QString name = box->objectName();
    spies.emplace_back(name, std::make_unique<QSignalSpy>(box, &QComboBox::currentIndexChanged));
    spies.emplace_back(name, std::make_unique<QSignalSpy>(box, &QComboBox::currentTextChanged));
    spies.emplace_back(name, std::make_unique<QSignalSpy>(box, &QComboBox::editTextChanged));
    if (box->lineEdit())
      spies.emplace_back(name, std::make_unique<QSignalSpy>(box->lineEdit(), &QLineEdit::textChanged));
  }
  ui.DispParam1->setCurrentIndex(1);
  ui.PrimaryTextComboBox->setEditText("typed");
  for (auto& [name, spy] : spies) spy->clear();

  ApplyTexts();
  ApplyTexts();

  for (const auto& [name, spy] : spies)
    EXPECT_EQ(spy->count(), 0) << name.toStdString() << " " << spy->signal().constData();
}

TEST_F(MainWindowLayout, StartsInTheStateTheProgramExpects) {
  ApplyTexts();

  // System page, before the first reply: only the evaporator row is shown.
  EXPECT_EQ(TextColor(ui.SystemStatPanel), StatusGreen);
  EXPECT_EQ(ui.ShowSensor1->text(), "Evaporator");
  EXPECT_EQ(ui.CPUSpeedLoadPanel->text(), "MHz ");
  for (int i = 1; i <= 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Find<QLabel>(QString("Temp%1").arg(i))->text(), "-");
    auto* number = Find<QLabel>(QString("SensorNoLabel%1").arg(i));
    EXPECT_EQ(number->text(), QString("%1:").arg(i));
    EXPECT_FALSE(number->isHidden());
    for (const QString pattern : {"ShowSensor%1", "Temp%1", "TempStat%1"})
      EXPECT_EQ(Find<QLabel>(pattern.arg(i))->isHidden(), i > 1) << pattern.toStdString();
  }
  EXPECT_EQ(ui.FanRPM1->text(), "0 RPM");
  EXPECT_EQ(ui.FanRPM2->text(), "0 RPM");
  EXPECT_EQ(ui.CPULoadGraph->minimumSize(), QSize(95, 28));
  EXPECT_EQ(ui.CPULoadGraph->maximumSize(), QSize(95, 28));

  // Setup page: rows 3 to 5 wait for a sensor name; the limits take any value.
  EXPECT_TRUE(ui.EvaporatorEdit->isReadOnly());
  EXPECT_TRUE(ui.Sensor1Edit->isReadOnly());
  EXPECT_FALSE(ui.Sensor1Edit->isEnabled());
  for (int i = 2; i <= 5; ++i) {
    for (const QString pattern : {"SetupSensorComboBox%1", "Par%1HighLow", "Sensor%1Alm", "Sensor%1ShDn"})
      EXPECT_EQ(Find<QWidget>(pattern.arg(i))->isEnabled(), i == 2) << pattern.arg(i).toStdString();
    auto* names = Find<QComboBox>(QString("SetupSensorComboBox%1").arg(i));
    EXPECT_TRUE(names->isEditable()) << i;
    EXPECT_EQ(names->insertPolicy(), QComboBox::NoInsert) << i;
  }
  const auto limits = window.findChildren<QSpinBox*>();
  EXPECT_EQ(limits.size(), 10);
  for (auto* limit : limits) {
    SCOPED_TRACE(limit->objectName().toStdString());
    EXPECT_EQ(limit->minimum(), -2147483647);
    EXPECT_EQ(limit->maximum(), 2147483647);
    EXPECT_EQ(limit->singleStep(), 1);
  }
  for (QSlider* fan : {ui.FrontFanManual, ui.RearFanManual}) {
    SCOPED_TRACE(fan->objectName().toStdString());
    EXPECT_EQ(fan->minimum(), 600);
    EXPECT_EQ(fan->maximum(), 2200);
    EXPECT_EQ(fan->value(), 600);
    EXPECT_EQ(fan->orientation(), Qt::Horizontal);
    EXPECT_FALSE(fan->isEnabled());
  }
  for (QWidget* w : std::initializer_list<QWidget*>{ui.ManualLabel, ui.FanMinLabel, ui.FanMaxLabel})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();

  // Display page: the typed texts go to the 16-character display unchanged.
  EXPECT_TRUE(ui.PrimaryTextComboBox->isEditable());
  EXPECT_TRUE(ui.SecondaryTextComboBox->isEditable());
  EXPECT_EQ(ui.PrimaryTextComboBox->insertPolicy(), QComboBox::NoInsert);
  EXPECT_FALSE(ui.DispParam1->isEditable());

  // Misc. page, with the dormant heater group.
  EXPECT_EQ(ui.OperHours->text(), "-1");
  EXPECT_TRUE(ui.CelsiusRadioButton->isChecked());
  EXPECT_FALSE(ui.FahrenheitRadioButton->isChecked());
  EXPECT_FALSE(ui.AutostartCheckBox->isChecked());
  EXPECT_TRUE(ui.HeaterComboBox->isHidden());
  EXPECT_FALSE(ui.HeaterComboBox->isEnabled());
  EXPECT_FALSE(ui.HeaterReduceLabel->isEnabled());
  EXPECT_EQ(ui.HeatingSlider->minimum(), 0);
  EXPECT_EQ(ui.HeatingSlider->maximum(), 10);
  EXPECT_EQ(ui.HeatingSlider->value(), 10);
  EXPECT_EQ(ui.HeatingTimerPanel->text(), "0 Min");
  EXPECT_TRUE(ui.HeatingTimerPanel->font().bold());
  EXPECT_EQ(TextColor(ui.HeatingTimerPanel), StatusGreen);

  // RTC page: nothing on it can be used.
  for (QWidget* w : std::initializer_list<QWidget*>{ui.GroupBox7, ui.GroupBox8, ui.SetupTime, ui.SetupDate})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_EQ(ui.SetupTime->text(), "10 : 52 : 35");
  EXPECT_EQ(ui.SetupDate->text(), "2002 - 10 - 18");
  for (const QString& day : kWeekdays) {
    SCOPED_TRACE(day.toStdString());
    for (const QString suffix : {"", "Hour", "Min", "CheckBox", "Time"})
      EXPECT_FALSE(Find<QWidget>(day + suffix)->isEnabled()) << suffix.toStdString();
    auto* hour = Find<QComboBox>(day + "Hour");
    auto* minute = Find<QComboBox>(day + "Min");
    EXPECT_EQ(hour->count(), 24);
    EXPECT_EQ(hour->itemText(23), "23");
    EXPECT_EQ(minute->count(), 60);
    EXPECT_EQ(minute->itemText(0), "00");
    EXPECT_EQ(hour->lineEdit()->placeholderText(), "hour");
    EXPECT_EQ(minute->lineEdit()->placeholderText(), "min");
    EXPECT_EQ(hour->currentIndex(), -1);
  }
}

TEST(DialogLayouts, CarryTheirControlsAndTexts) {
  {
    QDialog dialog;
    Ui::TForm2 ui;
    ui.setupUi(&dialog);
    EXPECT_EQ(dialog.windowTitle(), "Heating Reducement");
    EXPECT_EQ(ui.HeaterWarningGroupBox->title(), "Warning");
    EXPECT_EQ(ui.MessageLabel1->text(), "Decreasing heating affect below 75% may cause");
    EXPECT_EQ(ui.MessageLabel2->text(), "damage to your  system, so do only use this if you");
    EXPECT_EQ(ui.MessageLabel3->text(), "known what you are doing and only for a limited time.");
    EXPECT_EQ(ui.TimerLabel->text(), "Select for how long heating should be reduced.");
    EXPECT_EQ(ui.MinLabel->text(), "Min.");
    EXPECT_EQ(ui.OkButton->text(), "&Ok");
    EXPECT_EQ(ui.CancelButton->text(), "&Cancel");
    // The picker shows minutes only and starts at no reduction.
    EXPECT_EQ(ui.HeatingTimer->time(), QTime(0, 0));
    EXPECT_EQ(ui.HeatingTimer->displayedSections(), QDateTimeEdit::MinuteSection);
    EXPECT_EQ(ui.HeatingTimer->maximumTime(), QTime(0, 59));
  }
  {
    QDialog dialog;
    Ui::TClearLogForm ui;
    ui.setupUi(&dialog);
    EXPECT_EQ(dialog.windowTitle(), "Clear log file");
    EXPECT_EQ(ui.ClearLogGroupBox->title(), "Log Clearing");
    EXPECT_EQ(ui.MessageLabel2->text(), "Do you want to clear it now?");
    EXPECT_EQ(ui.OkButton->text(), "&Ok");
    EXPECT_EQ(ui.RemindButton->text(), "&Remind me later");
    EXPECT_EQ(ui.CancelButton->text(), "&Cancel");
    EXPECT_FALSE(ui.OkButton->isDefault());  // Enter alone must not delete the log
  }
  {
    QDialog dialog;
    Ui::TReminderForm ui;
    ui.setupUi(&dialog);
    EXPECT_EQ(dialog.windowTitle(), "Reminder");
    EXPECT_EQ(ui.ReminderLabel->text(), "Remind me again in:");
    EXPECT_EQ(Items(ui.ReminderComboBox),
              (QStringList{"1 day", "2 days", "3 days", "1 week", "1 Month", "Never"}));
    EXPECT_EQ(ui.ReminderComboBox->currentIndex(), 0);
    EXPECT_EQ(ui.OkButton->text(), "&Ok");
    EXPECT_EQ(ui.CancelButton->text(), "&Cancel");
  }
}

// F1 opens the help at one anchor per page; an anchor the browser cannot find
// leaves the user at the top of the file.
TEST(HelpFile, HasAnAnchorForEveryContextAndNoDeadLink) {
  QFile file(QStringLiteral(VCC_HELP_FILE));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QTextDocument document;
  document.setHtml(QString::fromUtf8(file.readAll()));

  QSet<QString> anchors;
  QStringList links;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat format = it.fragment().charFormat();
      for (const QString& name : format.anchorNames()) anchors.insert(name);
      if (format.isAnchor() && !format.anchorHref().isEmpty()) links << format.anchorHref();
    }
  }
  for (const char* context : {"contents", "100", "200", "300", "400", "600"})
    EXPECT_TRUE(anchors.contains(context)) << context;
  EXPECT_FALSE(links.isEmpty());
  for (const QString& link : links) {
    if (link.startsWith('#')) {
      EXPECT_TRUE(anchors.contains(link.mid(1))) << link.toStdString();
    }
  }
}

}  // namespace
