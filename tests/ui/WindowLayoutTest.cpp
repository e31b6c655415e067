// The window layouts and the start-up texts: the program's handlers find their
// controls by name and kind, and the user must see the run-time texts and start
// choices whatever the layout files hold.

#include "config/WindowTexts.h"
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

QStringList Numbered(const QString& pattern, int from, int to) {
  QStringList names;
  for (int i = from; i <= to; ++i) names << pattern.arg(i);
  return names;
}

const QStringList kWeekdays{"Monday", "Tuesday", "Wednesday", "Thursday", "Friday"};

QStringList PerWeekday(const QString& suffix) {
  QStringList names;
  for (const QString& day : kWeekdays) names << day + suffix;
  return names;
}

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
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

// --------------------------------------------------------------------------
// Every control that a handler reaches by its name is there, once, as the kind
// of control the handler expects.
TEST_F(MainWindowLayout, EveryNamedControlExistsOnceWithItsKind) {
  const QStringList panels =
      QStringList{"SystemStatPanel", "CPUSpeedLoadPanel", "FanRPM1",   "FanRPM2",
                  "Fan1StatusLabel", "Fan2StatusLabel",   "OperHours", "HeatingTimerPanel",
                  "SetupTime",       "SetupDate"} +
      Numbered("ShowSensor%1", 1, 5) + Numbered("Temp%1", 1, 5) + Numbered("TempStat%1", 1, 5) +
      kWeekdays;
  const QStringList labels =
      QStringList{
          "StatusLabel",       "SpeedLoadLabel",    "LoadLabel",          "Fan1Label",
          "Fan2Label",         "SetupSensorLabel",  "WhenLabel",          "SetupAlm",
          "SetupShDn",         "PositionLabel",     "ModeLabel",          "ManualLabel",
          "FanMinLabel",       "FanMaxLabel",       "FrontFanLabel",      "RearFanLabel",
          "DisplayLine1Label", "PrimaryTextLabel",  "SecondaryTextLabel", "IntervalLabel",
          "DisplayLine2Label", "Para1Label",        "Para2Label",         "Para3Label",
          "TraySelLabel1",     "WarningHandLabel1", "TotalHourlabel",     "BootControlLabel",
          "EffectLabel",       "ZeroEffectLabel",   "Effect100Label",     "HeaterReduceLabel"} +
      Numbered("SensorNoLabel%1", 1, 5) + PerWeekday("Time") + panels;
  const QStringList groups{"OverallGroupBox",   "TempGroupBox",       "FanGroupBox",
                           "SetupTempGroupBox", "FanSetupGroupBox",   "Display1GroupBox",
                           "Display2GroupBox",  "TrayIconGroupBox",   "WarningHandlingGroupBox",
                           "OperationGroupBox", "ErrorGroupBox",      "TotalGroupBox",
                           "BootGroupBox",      "TempFormatGroupBox", "HeaterComboBox",
                           "GroupBox7",         "GroupBox8"};
  const QStringList combos = QStringList{"FrontFanModeComboBox",
                                         "RearFanModeComboBox",
                                         "DispLine1Int",
                                         "PrimaryTextComboBox",
                                         "SecondaryTextComboBox",
                                         "DispParam1",
                                         "DispParam2",
                                         "DispParam3",
                                         "IconShowComboBox",
                                         "WarningHandlingComboBox",
                                         "BootTempComboBox"} +
                             Numbered("SetupSensorComboBox%1", 2, 5) +
                             Numbered("Par%1HighLow", 2, 5) + PerWeekday("Hour") +
                             PerWeekday("Min");
  const std::vector<std::pair<const char*, QStringList>> kinds{
      {"QLabel", labels},
      {"QGroupBox", groups},
      {"QComboBox", combos},
      {"QSpinBox", Numbered("Sensor%1Alm", 1, 5) + Numbered("Sensor%1ShDn", 1, 5)},
      {"QLineEdit", {"EvaporatorEdit", "Sensor1Edit"}},
      {"QSlider", {"FrontFanManual", "RearFanManual", "HeatingSlider"}},
      {"QRadioButton", {"CelsiusRadioButton", "FahrenheitRadioButton"}},
      {"QPushButton", {"ViewLogButton", "ClearLogButton", "ErrorViewButton", "SendButton"}},
      {"QCheckBox", PerWeekday("CheckBox")},
      {"QTabWidget", {"PageControl1"}},
      {"QStatusBar", {"MainStatusBar"}},
      {"QWidget",
       {"CPULoadGraph", "TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4", "TabSheet5"}},
  };
  for (const auto& [kind, names] : kinds) {
    for (const QString& name : names) {
      const auto found = window.findChildren<QWidget*>(name);
      ASSERT_EQ(found.size(), 1) << name.toStdString();
      EXPECT_TRUE(found.front()->inherits(kind)) << name.toStdString() << " is not a " << kind;
    }
  }

  // A panel is a sunken, silver label whose text colour is the state it shows.
  for (const QString& name : panels) {
    auto* panel = Find<QLabel>(name);
    EXPECT_EQ(panel->frameShape(), QFrame::Panel) << name.toStdString();
    EXPECT_EQ(panel->frameShadow(), QFrame::Sunken) << name.toStdString();
    EXPECT_TRUE(panel->autoFillBackground()) << name.toStdString();
    EXPECT_EQ(panel->palette().color(QPalette::Active, QPalette::Window), BlinkSilver)
        << name.toStdString();
  }
}

TEST_F(MainWindowLayout, OffersFourPagesWithSystemInFront) {
  QTabWidget* pages = ui.PageControl1;
  ui.PageControl1->setCurrentIndex(2);
  ApplyTexts();

  // The page order fixes the help context of each page.
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

// --------------------------------------------------------------------------
// The layout's own texts and lists are overwritten; a caption or list that the
// start-up step forgot would keep the stand-in text put there first.
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

  const std::vector<std::pair<const char*, const char*>> captions{
      // System
      {"OverallGroupBox", "Overall"},
      {"StatusLabel", "Status"},
      {"SpeedLoadLabel", "CPU speed"},
      {"LoadLabel", "CPU load"},
      {"TempGroupBox", "Temperatures"},
      {"FanGroupBox", "Fans"},
      {"Fan1Label", "Front (Condenser)"},
      {"Fan2Label", "Rear  (Exhaust)"},
      // Setup
      {"SetupTempGroupBox", "Temperatures"},
      {"SetupSensorLabel", "Sensor name/location"},
      {"WhenLabel", "When"},
      {"SetupAlm", "Warning"},
      {"SetupShDn", "Shut-down"},
      {"EvaporatorEdit", "Evaporator"},
      {"Sensor1Edit", "Higher"},
      {"FanSetupGroupBox", "Fans"},
      {"PositionLabel", "Position"},
      {"ModeLabel", "Mode"},
      {"ManualLabel", "Manual"},
      {"FanMinLabel", "Min"},
      {"FanMaxLabel", "Max"},
      {"FrontFanLabel", "Front (Condenser)"},
      {"RearFanLabel", "Rear  (Exhaust)"},
      // Display
      {"Display1GroupBox", "Display line 1"},
      {"DisplayLine1Label", "Select the text for display line 1."},
      {"PrimaryTextLabel", "Primary text"},
      {"SecondaryTextLabel", "Secondary text"},
      {"IntervalLabel", "Interval"},
      {"Display2GroupBox", "Display line 2"},
      {"DisplayLine2Label", "Select the parameters for display line 2."},
      {"Para1Label", "Parameter 1"},
      {"Para2Label", "Parameter 2"},
      {"Para3Label", "Parameter 3"},
      {"TrayIconGroupBox", "Tray Icon"},
      {"TraySelLabel1", "Select tray icon text"},
      {"WarningHandlingGroupBox", "Warning Handling"},
      {"WarningHandLabel1", "Select which even to trigger"},
      // Misc.
      {"OperationGroupBox", "Operation Log"},
      {"ViewLogButton", "&View"},
      {"ClearLogButton", "&Clear"},
      {"ErrorGroupBox", "Error Log"},
      {"ErrorViewButton", "V&iew"},
      {"SendButton", "Report"},
      {"TotalGroupBox", "Total"},
      {"TotalHourlabel", "Operation hours"},
      {"BootGroupBox", "Boot Control"},
      {"BootControlLabel", "Boot temperature"},
      {"TempFormatGroupBox", "Temperature Format"},
      {"CelsiusRadioButton", "Celsius"},
      {"FahrenheitRadioButton", "Fahrenheit"},
      {"HeaterComboBox", "Heater Control"},
      {"EffectLabel", "Effect"},
      {"ZeroEffectLabel", "0%"},
      {"Effect100Label", "100%"},
      {"HeaterReduceLabel", "Remaning time heating is reduced"},
  };
  for (const auto& [name, text] : captions) {
    QWidget* w = Find<QWidget>(name);
    ASSERT_NE(w, nullptr) << name;
    QString shown;
    if (auto* l = qobject_cast<QLabel*>(w))
      shown = l->text();
    else if (auto* g = qobject_cast<QGroupBox*>(w))
      shown = g->title();
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
      shown = b->text();
    else if (auto* e = qobject_cast<QLineEdit*>(w))
      shown = e->text();
    EXPECT_EQ(shown, QString(text)) << name;
  }

  const QStringList sensor2{"Optional",          "Ambient",    "Surface microfreezer",
                            "Surface rearcover", "Compressor", "Graphic Processor",
                            "Harddisk"};
  const QStringList sensors{"Optional",   "Surface microfreezer", "Surface rearcover",
                            "Compressor", "Graphic Processor",    "Harddisk"};
  const QStringList modes{"Normal", "Low noise", "Turbo", "Manual"};
  const QStringList line1{"Speed Load Temp", "Vornalith",    "Quelmark",
                          "Super Cooled",    "Mean Machine", "Your own Text"};
  const QStringList params{"Evaporator temp.", "Sensor 2 temp.", "Sensor 3 temp", "Sensor 4 temp",
                           "Sensor 5 temp",    "CPU Speed",      "CPU Load",      "   "};
  QStringList boot;
  for (int i = 0; i <= 40; ++i) boot << QString::number(-i);
  struct List {
    const char* name;
    QStringList items;
    int start;
  };
  const std::vector<List> lists{
      {"SetupSensorComboBox2", sensor2, 0},
      {"SetupSensorComboBox3", sensors, 0},
      {"SetupSensorComboBox4", sensors, 0},
      {"SetupSensorComboBox5", sensors, 0},
      {"Par2HighLow", {"Higher", "Lower"}, 0},
      {"Par3HighLow", {"Higher", "Lower"}, 0},
      {"Par4HighLow", {"Higher", "Lower"}, 0},
      {"Par5HighLow", {"Higher", "Lower"}, 0},
      {"FrontFanModeComboBox", modes, 0},
      {"RearFanModeComboBox", modes, 0},
      {"DispLine1Int",
       {"5 Sec", "10 Sec", "30 Sec", "1 Min", "3 Min", "5 Min", "10 Min", "Never"},
       0},
      {"PrimaryTextComboBox", line1, 0},
      {"SecondaryTextComboBox", line1, 2},
      {"DispParam1", params, 5},
      {"DispParam2", params, 6},
      {"DispParam3", params, 0},
      {"IconShowComboBox",
       {"Evaporator temp.", "Sensor 2 temp.", "Sensor 3 temp.", "Sensor 4 temp.", "Sensor 5 temp.",
        "CPU speed", "CPU load"},
       0},
      {"WarningHandlingComboBox",
       {"Alarm Sound", "Blinking tray icon", "Open control center", "Ignore"},
       0},
      {"BootTempComboBox", boot, 33},
  };
  for (const auto& list : lists) {
    auto* box = Find<QComboBox>(list.name);
    ASSERT_NE(box, nullptr) << list.name;
    EXPECT_EQ(Items(box), list.items) << list.name;
    EXPECT_EQ(box->currentIndex(), list.start) << list.name;
    // An editable list shows its start item, not a text left in its edit field.
    EXPECT_EQ(box->currentText(), list.items.value(list.start)) << list.name;
  }
  EXPECT_EQ(ui.BootTempComboBox->currentText(), "-33");
}

// The change handlers save and send what they see; the start-up filling must not
// look to them like a choice of the user.
TEST_F(MainWindowLayout, FillingTheListsFiresNoChangeSignal) {
  std::vector<std::pair<QString, std::unique_ptr<QSignalSpy>>> spies;
  for (auto* box : window.findChildren<QComboBox*>()) {
    const QString name = box->objectName();
    spies.emplace_back(name, std::make_unique<QSignalSpy>(box, &QComboBox::currentIndexChanged));
    spies.emplace_back(name, std::make_unique<QSignalSpy>(box, &QComboBox::currentTextChanged));
    spies.emplace_back(name, std::make_unique<QSignalSpy>(box, &QComboBox::editTextChanged));
    if (box->lineEdit())
      spies.emplace_back(name,
                         std::make_unique<QSignalSpy>(box->lineEdit(), &QLineEdit::textChanged));
  }
  // Start from selections other than the start items, as a second fill would.
  ui.DispParam1->setCurrentIndex(1);
  ui.PrimaryTextComboBox->setEditText("typed");
  for (auto& [name, spy] : spies) spy->clear();

  ApplyTexts();
  ApplyTexts();

  for (const auto& [name, spy] : spies)
    EXPECT_EQ(spy->count(), 0) << name.toStdString() << " " << spy->signal().constData();
}

// --------------------------------------------------------------------------
TEST_F(MainWindowLayout, StartsInTheStateTheProgramExpects) {
  ApplyTexts();

  // System page: before the first reply.
  EXPECT_EQ(ui.SystemStatPanel->text(), "Initializing");
  EXPECT_EQ(TextColor(ui.SystemStatPanel), StatusGreen);
  EXPECT_EQ(ui.ShowSensor1->text(), "Evaporator");
  EXPECT_EQ(ui.CPUSpeedLoadPanel->text(), "MHz ");
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(Find<QLabel>(QString("Temp%1").arg(i))->text(), "-");
    EXPECT_EQ(Find<QLabel>(QString("SensorNoLabel%1").arg(i))->text(), QString("%1:").arg(i));
    EXPECT_FALSE(Find<QLabel>(QString("SensorNoLabel%1").arg(i))->isHidden());
    for (const QString pattern : {"ShowSensor%1", "Temp%1", "TempStat%1"})
      EXPECT_EQ(Find<QLabel>(pattern.arg(i))->isHidden(), i > 1) << pattern.arg(i).toStdString();
  }
  EXPECT_EQ(ui.FanRPM1->text(), "0 RPM");
  EXPECT_EQ(ui.FanRPM2->text(), "0 RPM");
  EXPECT_EQ(ui.CPULoadGraph->minimumSize(), QSize(95, 28));
  EXPECT_EQ(ui.CPULoadGraph->maximumSize(), QSize(95, 28));

  // Setup page: rows 3 to 5 wait for a sensor name; the limits take any value.
  EXPECT_TRUE(ui.EvaporatorEdit->isReadOnly());
  EXPECT_TRUE(ui.Sensor1Edit->isReadOnly());
  EXPECT_FALSE(ui.Sensor1Edit->isEnabled());
  EXPECT_EQ(TextColor(ui.SetupAlm), StatusOrange);
  for (int i = 2; i <= 5; ++i) {
    const bool enabled = i == 2;
    for (const QString pattern :
         {"SetupSensorComboBox%1", "Par%1HighLow", "Sensor%1Alm", "Sensor%1ShDn"})
      EXPECT_EQ(Find<QWidget>(pattern.arg(i))->isEnabled(), enabled)
          << pattern.arg(i).toStdString();
    auto* names = Find<QComboBox>(QString("SetupSensorComboBox%1").arg(i));
    EXPECT_TRUE(names->isEditable());
    EXPECT_EQ(names->insertPolicy(), QComboBox::NoInsert);
  }
  for (auto* limit : window.findChildren<QSpinBox*>()) {
    EXPECT_EQ(limit->minimum(), -2147483647) << limit->objectName().toStdString();
    EXPECT_EQ(limit->maximum(), 2147483647) << limit->objectName().toStdString();
    EXPECT_EQ(limit->singleStep(), 1);
  }
  EXPECT_EQ(window.findChildren<QSpinBox*>().size(), 10);
  for (QSlider* fan : {ui.FrontFanManual, ui.RearFanManual}) {
    EXPECT_EQ(fan->minimum(), 600);
    EXPECT_EQ(fan->maximum(), 2200);
    EXPECT_EQ(fan->value(), 600);
    EXPECT_EQ(fan->orientation(), Qt::Horizontal);
    EXPECT_FALSE(fan->isEnabled());
  }
  EXPECT_FALSE(ui.ManualLabel->isEnabled());
  EXPECT_FALSE(ui.FanMinLabel->isEnabled());
  EXPECT_FALSE(ui.FanMaxLabel->isEnabled());

  // Display page: the typed texts go to a 16-character display unchanged.
  EXPECT_TRUE(ui.PrimaryTextComboBox->isEditable());
  EXPECT_TRUE(ui.SecondaryTextComboBox->isEditable());
  EXPECT_EQ(ui.PrimaryTextComboBox->insertPolicy(), QComboBox::NoInsert);
  EXPECT_FALSE(ui.DispParam1->isEditable());

  // Misc. page, with the dormant heater group.
  EXPECT_EQ(ui.OperHours->text(), "-1");
  EXPECT_TRUE(ui.CelsiusRadioButton->isChecked());
  EXPECT_FALSE(ui.FahrenheitRadioButton->isChecked());
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
  for (QWidget* w :
       std::initializer_list<QWidget*>{ui.GroupBox7, ui.GroupBox8, ui.SetupTime, ui.SetupDate})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_EQ(ui.SetupTime->text(), "10 : 52 : 35");
  EXPECT_EQ(ui.SetupDate->text(), "2002 - 10 - 18");
  for (const QString& day : kWeekdays) {
    for (const QString suffix : {"", "Hour", "Min", "CheckBox", "Time"})
      EXPECT_FALSE(Find<QWidget>(day + suffix)->isEnabled()) << (day + suffix).toStdString();
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

// --------------------------------------------------------------------------
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
    // Enter alone must not delete the log.
    EXPECT_FALSE(ui.OkButton->isDefault());
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

// --------------------------------------------------------------------------
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
