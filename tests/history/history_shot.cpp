// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the control centre against the simulated unit with a stepped clock and
// the history on, then saves a picture of the history window or reports the
// history file's size.
//
//   history_shot <picture.png>   an hour with a warning and a lost link,
//                                drawn over the last hour
//   history_shot --day           a day of polls; prints the file's size

#include "app/Features.h"
#include "app/TForm1.h"
#include "app/HistoryFeature.h"
#include "app/HistoryWindow.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "ui_TForm1.h"

#include "SimUnitLink.h"
#include "SimulatedUnit.h"

#include <QApplication>
#include <QFileInfo>
#include <QPixmap>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  const bool day = std::strcmp(argv[1], "--day") == 0;
  QTemporaryDir state;
  qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());

  ResetDeviceData();
  unitsim::SimulatedUnit unit(7);
  unit.Advance(400);
  unitsim::SimUnitLink link(unit);
  FakeServices fakes;
  fakes.clock.now = QDateTime(QDate(2026, 12, 7), QTime(13, 0, 0));
  Services services = fakes.services();
  services.link = &link;
  TForm1 form(services);
  form.ui().SetupSensorComboBox3->setEditText(QStringLiteral("Graphic Processor"));
  form.show();
  Features features(form, CommandLine{});

  const int polls = day ? 24 * 1200 : 1200;
  const int warningC = form.LastSample().sensor(1).warningCelsius;
  for (int i = 0; i < polls; ++i) {
    // Twenty minutes in, the evaporator warms past its warning limit for
    // four minutes; later the cable is out for two.
    if (!day && i == 400) unit.SetSensor(1, warningC + 3);
    if (!day && i == 480) unit.ClearSensor(1);
    if (!day && i == 800) unit.Unplug();
    if (!day && i == 840) unit.Plug();
    unit.Advance(3);
    unit.SetSensor(3, 44 + (i / 40) % 5);
    fakes.clock.now = fakes.clock.now.addSecs(3);
    form.Watcher().UpdateDataTimerTimer();
  }

  if (day) {
    HistoryStore& store = features.History()->Store();
    const qint64 withLog = QFileInfo(DefaultHistoryPath()).size() + QFileInfo(DefaultHistoryPath() + "-wal").size();
    {
      // What the file holds once the log is folded back into it.
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("size"));
      db.setDatabaseName(DefaultHistoryPath());
      db.open();
      QSqlQuery(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"), db);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("size"));
    const qint64 bytes = QFileInfo(DefaultHistoryPath()).size();
    std::printf("history: %lld bytes with the log before it was folded in\n", static_cast<long long>(withLog));
    std::printf("history: %d polls, %zu samples kept, %lld bytes per simulated day\n",
                polls, store.Read(0, fakes.clock.now.toMSecsSinceEpoch() + 1).size(),
                static_cast<long long>(bytes));
    return 0;
  }
  features.History()->OpenWindow();
  HistoryWindow* window = features.History()->Window();
  window->SetSpan(1);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  QApplication::sendPostedEvents();
  const bool saved = window->grab().save(QString::fromLocal8Bit(argv[1]));
  std::printf("%s\n", saved ? "saved" : "not saved");
  return saved ? 0 : 1;
}
