// The control centre with the simulated unit behind its link, and the unit's
// own window beside it.

#include "SimDriver.h"
#include "SimUnitWindow.h"
#include "SimulatedUnit.h"
#include "app/Entry.h"
#include "app/Services.h"
#include "device/UsbLink.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QRect>

#include <chrono>
#include <cstdint>
#include <memory>

namespace {

// A real unit holds the computer's boot back until its evaporator is cold, so
// the control centre always meets a unit that has finished its boot delay.
// Without this run-in the program would start against a warm evaporator and
// arm an emergency shutdown for a condition no real start can produce.
void RunUntilBooted(unitsim::SimulatedUnit& unit) {
  constexpr int kLimitSeconds = 1800;
  for (int s = 0; s < kLimitSeconds; ++s) {
    const std::uint8_t state = unit.State();
    if (state != 0 && state != 2) break;  // POWER UP, BOOT DELAY
    unit.Advance(1.0);
  }
}

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

int main(int argc, char** argv) {
  const auto seed = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  unitsim::SimulatedUnit unit(seed);
  RunUntilBooted(unit);

  EntryOptions options;
  options.desktopFileName = "org.quelmark.VornalithControlCentre.Simulated";
  // The simulated unit stands behind the same driver layer a USB unit does,
  // so unplugging it in its window travels as detach and attach events.
  unit.FollowWallClock();
  options.makeLink = [&unit] { return MakeStandInLink(std::make_unique<unitsim::SimDriver>(unit)); };
  options.makePowerOff = [] { return std::make_unique<SimulatedPowerOff>(); };
  options.onMainWindowCreated = [&unit](QMainWindow& mainWindow) {
    // Owned by the main window, so it goes away before the unit does.
    auto* window = new unitsim::SimUnitWindow(unit, true, &mainWindow);
    const QRect frame = mainWindow.frameGeometry();
    window->move(frame.right() + 12, frame.top());
    window->show();
  };
  return RunControlCentre(argc, argv, options);
}
