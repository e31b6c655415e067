// SPDX-License-Identifier: GPL-3.0-or-later
// Asks for the power-off exactly as the program does, on whatever system bus
// DBUS_SYSTEM_BUS_ADDRESS names; the test points it at a private bus.
#include "app/DesktopServices.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  LogindPowerOff powerOff;
  powerOff.RequestPowerOff();
  QTimer::singleShot(500, &app, &QCoreApplication::quit);
  return app.exec();
}
