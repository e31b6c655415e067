// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Accessibility.h"

#include "app/TForm1.h"
#include "monitor/Conversions.h"
#include "monitor/StatusSample.h"
#include "monitor/UnitModel.h"
#include "widgets/TPerformanceGraph.h"

#include "ui_TForm1.h"

#include <QAccessible>
#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTimeEdit>

namespace {

// Each poll names the readings again; a name that did not change tells a
// screen reader nothing new.
void Name(QWidget* control, const QString& name) {
  if (control->accessibleName() != name) control->setAccessibleName(name);
}

// A label that stands for one control names it (and its mnemonic, if it
// gets one, moves the focus there). The name is given as well: on Linux Qt
// reads a list by its current item and leaves the label to a relation that
// not every screen reader follows.
void Label(QLabel* label, QWidget* control) {
  if (!label || !control) return;
  label->setBuddy(control);
  Name(control, QString(label->text()).remove(QLatin1Char('&')));
}

// --- the page tabs -------------------------------------------------------------
// Qt's own tab list reports a tab hidden with setTabVisible as showing, so a
// screen reader offers the dormant page; this one says it is not there.

class PageTab : public QAccessibleInterface, public QAccessibleActionInterface {
 public:
  PageTab(QTabBar* bar, int index) : bar_(bar), index_(index) {}

  bool isValid() const override { return bar_ && index_ < bar_->count(); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return bar_ ? bar_->window()->windowHandle() : nullptr; }
  QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(bar_.data()); }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QString text(QAccessible::Text t) const override {
    if (!isValid()) return {};
    if (t == QAccessible::Name) return QString(bar_->tabText(index_)).remove(QLatin1Char('&'));
    if (t == QAccessible::Description) return bar_->tabToolTip(index_);
    return {};
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    if (!Shown()) return {};
    const QRect r = bar_->tabRect(index_);
    return {bar_->mapToGlobal(r.topLeft()), r.size()};
  }
  QAccessible::Role role() const override { return QAccessible::PageTab; }
  QAccessible::State state() const override {
    QAccessible::State s;
    if (!isValid()) {
      s.invalid = true;
      return s;
    }
    s.invisible = !Shown();
    s.disabled = !bar_->isTabEnabled(index_);
    s.focusable = s.selectable = !s.invisible;
    s.selected = index_ == bar_->currentIndex();
    s.focused = s.selected && bar_->hasFocus();
    return s;
  }
  void* interface_cast(QAccessible::InterfaceType type) override {
    return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
  }
  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& action) override {
    if (action == pressAction() && Shown() && bar_->isTabEnabled(index_)) bar_->setCurrentIndex(index_);
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 private:
  bool Shown() const { return isValid() && bar_->isVisible() && bar_->isTabVisible(index_); }
  QPointer<QTabBar> bar_;
  int index_;
};

class PageTabList : public QAccessibleWidget {
 public:
  explicit PageTabList(QTabBar* bar) : QAccessibleWidget(bar, QAccessible::PageTabList) {}
  ~PageTabList() override {
    for (QAccessible::Id id : std::as_const(ids_)) QAccessible::deleteAccessibleInterface(id);
  }
  // One child a tab, in the bar's order: Qt's focus events name a tab by
  // its index.
  int childCount() const override { return Bar()->count(); }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || index >= Bar()->count()) return nullptr;
    if (const auto it = ids_.constFind(index); it != ids_.constEnd()) return QAccessible::accessibleInterface(*it);
    auto* tab = new PageTab(Bar(), index);
    ids_.insert(index, QAccessible::registerAccessibleInterface(tab));
    return tab;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    for (auto it = ids_.constBegin(); it != ids_.constEnd(); ++it)
      if (QAccessible::accessibleInterface(it.value()) == child) return it.key();
    return -1;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    for (int i = 0; i < Bar()->count(); ++i)
      if (QAccessibleInterface* tab = child(i); tab->rect().contains(x, y)) return tab;
    return nullptr;
  }

 private:
  QTabBar* Bar() const { return static_cast<QTabBar*>(widget()); }
  mutable QHash<int, QAccessible::Id> ids_;
};

// --- the lists ------------------------------------------------------------------
// Qt names a list after its current item on Linux, even when it has a name of
// its own: ten lists of "Higher" and "Lower" then sound alike. A named list is
// read by its name here, with the current item as its value; one without a
// name still by its current item.

class NamedList : public QAccessibleWidget {
 public:
  explicit NamedList(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

  // The popup's list first, as Qt's own has it; an editable list's field next.
  int childCount() const override { return Box()->lineEdit() ? 2 : 1; }
  QAccessibleInterface* child(int index) const override {
    if (index == 0) return QAccessible::queryAccessibleInterface(Box()->view());
    if (index == 1 && Box()->lineEdit()) return QAccessible::queryAccessibleInterface(Box()->lineEdit());
    return nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (!child) return -1;
    if (child->object() == Box()->view()) return 0;
    if (Box()->lineEdit() && child->object() == Box()->lineEdit()) return 1;
    return -1;
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return Box()->currentText();
    if (t == QAccessible::Name && Box()->accessibleName().isEmpty()) return Box()->currentText();
    return QAccessibleWidget::text(t);
  }
  QStringList actionNames() const override { return {showMenuAction()}; }
  void doAction(const QString& action) override {
    if (action == showMenuAction()) Box()->showPopup();
  }

 private:
  QComboBox* Box() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
  if (className == QLatin1String("QTabBar")) {
    auto* bar = qobject_cast<QTabBar*>(object);
    if (bar && qobject_cast<QTabWidget*>(bar->parentWidget())) return new PageTabList(bar);
  } else if (className == QLatin1String("QComboBox")) {
    // Made while the window is built, before any name is given.
    if (auto* box = qobject_cast<QComboBox*>(object)) return new NamedList(box);
  }
  return nullptr;
}

// --- the main window's controls -------------------------------------------------

void NameSetupControls(TForm1& form) {
  Ui::TForm1& ui = form.ui();
  for (int n = 1; n <= 5; ++n) {
    const TForm1::SensorControls row = form.Row(n);
    const QString sensor = QStringLiteral("Sensor %1 ").arg(n);
    Name(n == 1 ? static_cast<QWidget*>(ui.EvaporatorEdit) : row.name, sensor + QStringLiteral("name"));
    Name(n == 1 ? static_cast<QWidget*>(ui.Sensor1Edit) : row.higherLower,
         sensor + QStringLiteral("higher or lower"));
    Name(row.warning, sensor + QStringLiteral("warning limit"));
    Name(row.shutdown, sensor + QStringLiteral("shut-down limit"));
  }
  Name(ui.FrontFanModeComboBox, QStringLiteral("Front fan mode"));
  Name(ui.RearFanModeComboBox, QStringLiteral("Rear fan mode"));
  Name(ui.FrontFanManual, QStringLiteral("Front fan manual speed"));
  Name(ui.RearFanManual, QStringLiteral("Rear fan manual speed"));
}

void NameDisplayControls(Ui::TForm1& ui) {
  Label(ui.PrimaryTextLabel, ui.PrimaryTextComboBox);
  Label(ui.SecondaryTextLabel, ui.SecondaryTextComboBox);
  Label(ui.IntervalLabel, ui.DispLine1Int);
  Label(ui.Para1Label, ui.DispParam1);
  Label(ui.Para2Label, ui.DispParam2);
  Label(ui.Para3Label, ui.DispParam3);
  Label(ui.TraySelLabel1, ui.IconShowComboBox);
  Label(ui.WarningHandLabel1, ui.WarningHandlingComboBox);
  // Two lists on the page are both about display line 1.
  Name(ui.DispLine1Int, QStringLiteral("Display line 1 interval"));
}

void NameMiscControls(Ui::TForm1& ui) {
  Name(ui.ViewLogButton, QStringLiteral("View operation log"));
  Name(ui.ClearLogButton, QStringLiteral("Clear operation log"));
  Name(ui.ErrorViewButton, QStringLiteral("View error log"));
  Name(ui.SendButton, QStringLiteral("Report error log"));
  Label(ui.BootControlLabel, ui.BootTempComboBox);
  Label(ui.EffectLabel, ui.HeatingSlider);
  Name(ui.HeatingSlider, QStringLiteral("Heater effect"));
  const struct {
    QLabel* day;
    QComboBox* hour;
    QComboBox* minute;
    QWidget* active;
  } days[] = {{ui.Monday, ui.MondayHour, ui.MondayMin, ui.MondayCheckBox},
              {ui.Tuesday, ui.TuesdayHour, ui.TuesdayMin, ui.TuesdayCheckBox},
              {ui.Wednesday, ui.WednesdayHour, ui.WednesdayMin, ui.WednesdayCheckBox},
              {ui.Thursday, ui.ThursdayHour, ui.ThursdayMin, ui.ThursdayCheckBox},
              {ui.Friday, ui.FridayHour, ui.FridayMin, ui.FridayCheckBox}};
  for (const auto& d : days) {
    Name(d.hour, d.day->text() + QStringLiteral(" hour"));
    Name(d.minute, d.day->text() + QStringLiteral(" minute"));
    Name(d.active, d.day->text() + QStringLiteral(" active"));
  }
}

// --- the readings ---------------------------------------------------------------

QString SensorName(const StatusSample& sample, int sensor) {
  return sensor == 1 ? QStringLiteral("Evaporator") : sample.sensor(sensor).name;
}

QString FanName(int fan) { return fan == 0 ? QStringLiteral("Front fan") : QStringLiteral("Rear fan"); }

void ShowReadingNames(TForm1& form, const StatusSample& sample) {
  Ui::TForm1& ui = form.ui();
  const UnitModel& model = form.Model();
  Name(ui.SystemStatPanel, QStringLiteral("Status: ") + model.status.caption);
  for (int n = 1; n <= 5; ++n) {
    const TForm1::SensorControls row = form.Row(n);
    const QString state = model.SensorState(n).caption;
    Name(row.value, ReadingName(sample, model, n));
    Name(row.state, SensorName(sample, n) + QStringLiteral(" state: ") + state);
  }
  const struct {
    int rpm;
    QLabel* speed;
    QLabel* status;
    QComboBox* mode;
  } fans[] = {{sample.frontFanRpm, ui.FanRPM1, ui.Fan1StatusLabel, ui.FrontFanModeComboBox},
              {sample.rearFanRpm, ui.FanRPM2, ui.Fan2StatusLabel, ui.RearFanModeComboBox}};
  for (int f = 0; f < 2; ++f) {
    if (fans[f].rpm >= 10000) continue;  // the panels keep the last reading too
    const QString state = fans[f].rpm == 0 ? QStringLiteral("Stopped") : fans[f].mode->currentText();
    Name(fans[f].speed, QStringLiteral("%1 %2 RPM, %3").arg(FanName(f)).arg(fans[f].rpm).arg(state));
    Name(fans[f].status, FanName(f) + QStringLiteral(" state: ") + state);
  }
  Name(ui.CPUSpeedLoadPanel, QStringLiteral("CPU speed %1 MHz").arg(sample.cpuClockMHz));
}

void NameReadingsBeforeTheFirstReply(Ui::TForm1& ui) {
  Name(ui.SystemStatPanel, QStringLiteral("Status: ") + ui.SystemStatPanel->text());
  Name(ui.Temp1, QStringLiteral("Evaporator temperature"));
  Name(ui.TempStat1, QStringLiteral("Evaporator state"));
  Name(ui.FanRPM1, FanName(0) + QStringLiteral(" speed"));
  Name(ui.FanRPM2, FanName(1) + QStringLiteral(" speed"));
  Name(ui.Fan1StatusLabel, FanName(0) + QStringLiteral(" state"));
  Name(ui.Fan2StatusLabel, FanName(1) + QStringLiteral(" state"));
  Name(ui.CPUSpeedLoadPanel, QStringLiteral("CPU speed"));
  Name(ui.CPULoadGraph, QStringLiteral("CPU load graph"));
}

// The menu's actions also act from the main window, where the keyboard is.
void GiveMenuKeys(QMenu* menu, QWidget* window) {
  const struct {
    const char* name;
    QKeySequence key;
  } keys[] = {{"Open1", kOpenKey}, {"History1", kHistoryKey}, {"About1", kAboutKey}, {"Exit1", kExitKey}};
  for (const auto& k : keys) {
    if (auto* action = menu->findChild<QAction*>(QString::fromLatin1(k.name))) {
      action->setShortcut(k.key);
      action->setShortcutVisibleInContextMenu(true);
      window->addAction(action);
    }
  }
}

}  // namespace

void InstallAccessibleInterfaces() {
  static const bool installed = (QAccessible::installFactory(Factory), true);
  Q_UNUSED(installed);
}

QString ReadingName(const StatusSample& sample, const UnitModel& model, int sensor) {
  const SensorSample& s = sample.sensor(sensor);
  const QString reading =
      s.celsius ? TemperatureText(*s.celsius, sample.celsiusDisplay) : QStringLiteral("no reading");
  const QString state = model.SensorState(sensor).caption;
  return SensorName(sample, sensor) + QStringLiteral(" temperature ") + reading +
         (state.isEmpty() ? QString() : QStringLiteral(", ") + state);
}

void MakeMainWindowAccessible(TForm1& form) {
  InstallAccessibleInterfaces();
  Ui::TForm1& ui = form.ui();
  Name(ui.PageControl1, QStringLiteral("Pages"));
  if (auto* tabs = ui.PageControl1->findChild<QTabBar*>()) Name(tabs, QStringLiteral("Page tabs"));
  NameSetupControls(form);
  NameDisplayControls(ui);
  NameMiscControls(ui);
  NameReadingsBeforeTheFirstReply(ui);
  if (form.PopupMenu1()) GiveMenuKeys(form.PopupMenu1(), &form);
  QObject::connect(&form, &TForm1::statusSampled, &form,
                   [&form](const StatusSample& sample) { ShowReadingNames(form, sample); });
}

void NameDialogControls(QDialog& dialog) {
  InstallAccessibleInterfaces();
  // The heating time and the reminder period, each under its own label.
  if (auto* label = dialog.findChild<QLabel*>(QStringLiteral("TimerLabel")))
    Label(label, dialog.findChild<QTimeEdit*>(QStringLiteral("HeatingTimer")));
  if (auto* label = dialog.findChild<QLabel*>(QStringLiteral("ReminderLabel")))
    Label(label, dialog.findChild<QComboBox*>(QStringLiteral("ReminderComboBox")));
}
