// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the control centre against the simulated unit with a stepped clock and
// the history on, then saves a picture of the history window or reports the
// history file's size.
//
//   history_shot <picture.png>   an hour with a warning and a lost link,
//                                drawn over the last hour
//   history_shot --day           a day of polls; prints the file's size
//
// After the picture's name: "max" (maximised), a size such as "640x480",
// "dark" (Fusion with a dark palette) and "armed" (ten minutes before the
// end, a power failure arms the shutdown for two).

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
#include <QElapsedTimer>
#include <QPalette>
#include <QStyleFactory>
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
  bool maximised = false, armed = false;
  QSize size;
  for (int i = 2; i < argc; ++i) {
    const QString opt = QString::fromLocal8Bit(argv[i]);
    if (opt == QLatin1String("max")) maximised = true;
    if (opt == QLatin1String("armed")) armed = true;
    if (opt == QLatin1String("dark")) {
      QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
      QPalette dark;
      dark.setColor(QPalette::Window, QColor(45, 45, 48));
      dark.setColor(QPalette::WindowText, QColor(225, 225, 225));
      dark.setColor(QPalette::Base, QColor(30, 30, 32));
      dark.setColor(QPalette::AlternateBase, QColor(50, 50, 54));
      dark.setColor(QPalette::Text, QColor(225, 225, 225));
      dark.setColor(QPalette::Button, QColor(55, 55, 58));
      dark.setColor(QPalette::ButtonText, QColor(225, 225, 225));
      dark.setColor(QPalette::Mid, QColor(90, 90, 95));
      QApplication::setPalette(dark);
    }
    const QStringList wh = opt.split(QLatin1Char('x'));
    if (wh.size() == 2 && wh[0].toInt() > 0) size = QSize(wh[0].toInt(), wh[1].toInt());
  }
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
    if (armed && i == 1000) unit.ForceState(80);
    if (armed && i == 1040) unit.ClearForcedState();
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
  if (maximised) window->showMaximized();
  if (size.isValid()) window->resize(size);
  // A window manager answers in its own time.
  QElapsedTimer waited;
  waited.start();
  while (waited.elapsed() < ((maximised || size.isValid()) ? 1500 : 0) || waited.elapsed() == 0)
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  QApplication::sendPostedEvents();
  const bool saved = window->grab().save(QString::fromLocal8Bit(argv[1]));
  std::printf("%s\n", saved ? "saved" : "not saved");
  return saved ? 0 : 1;
}
