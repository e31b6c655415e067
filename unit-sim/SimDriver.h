// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The driver stand-in of the -sim build: the simulated unit as the one device
// behind the driver layer. The unit is reported when an event registration is
// made (if its cable is in), and its Unplug and Plug travel as detach and
// attach events through the layer's event thread, exactly as a real unit's do.

#include "device/wdu/StandInBase.h"

#include <chrono>
#include <cstdint>

namespace unitsim {

class SimulatedUnit;

class SimDriver : public wdu::StandInBase {
 public:
  // The unit must outlive the stand-in.
  explicit SimDriver(SimulatedUnit& unit);
  ~SimDriver() override;

  // How often a read looks for the unit's answer while it waits for it.

 protected:
  std::uint32_t Version() const override;
  wdu::Status SelectInterface(std::uint32_t uniqueId, std::uint32_t interfaceNumber,
                              std::uint32_t alternateSetting) override;
  wdu::Status ResetPipe(std::uint32_t uniqueId, std::uint32_t pipe) override;
  wdu::Status Transfer(std::uint32_t uniqueId, wdu::TransferRecord& transfer) override;

 private:
  void OnPlug(bool plugged);

  SimulatedUnit& unit_;
  int listenerId_ = -1;
  std::chrono::milliseconds pollInterval_{2};
  std::mutex plugMutex_;           // orders plug reports
  std::uint32_t currentId_ = 0;    // guarded by plugMutex_; 0 while unplugged
};

}  // namespace unitsim
