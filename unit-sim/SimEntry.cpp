// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimEntry.h"

#include "SimDriver.h"
#include "SimUnitWindow.h"
#include "SimulatedUnit.h"
#include "core/Services.h"
#include "device/UsbLink.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QRect>

namespace unitsim {

namespace {

// The simulated unit must never take the real computer down with it: the
// power-off is shown and logged instead.
class SimulatedPowerOff : public IPowerOff {
 public:
  void RequestPowerOff() override {
    qWarning("Simulated unit: the computer would now be powered off.");
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Simulated unit"),
                                QStringLiteral("The computer would now be powered off "
                                               "(emergency shutdown). The simulated unit "
                                               "never powers this computer off."),
                                QMessageBox::Ok, QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
  }
};

}  // namespace

std::unique_ptr<IPowerOff> MakeSimulatedPowerOff() { return std::make_unique<SimulatedPowerOff>(); }

EntryOptions MakeSimEntryOptions(SimulatedUnit& unit) {
  EntryOptions options;
  options.desktopFileName = "org.quelmark.VornalithControlCentre.Simulated";
  // The simulated unit stands behind the same driver layer a USB unit does,
  // so unplugging it in its window travels as detach and attach events.
  options.makeLink = [&unit](UsbIdPair) { return MakeStandInLink(std::make_unique<SimDriver>(unit)); };
  options.makePowerOff = [] { return MakeSimulatedPowerOff(); };
  options.onMainWindowCreated = [&unit](QMainWindow& mainWindow) {
    // Owned by the main window, so it goes away before the unit does.
    auto* window = new SimUnitWindow(unit, true, &mainWindow);
    const QRect frame = mainWindow.frameGeometry();
    window->move(frame.right() + 12, frame.top());
    window->show();
  };
  return options;
}

}  // namespace unitsim
