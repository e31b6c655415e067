#include "app/Entry.h"
#include "device/UnitLink.h"

#include <memory>

namespace {

// Until the USB link is in place no unit can be opened, so the program ends the
// way it does when no unit is attached.
class NoUnitLink : public IUnitLink {
 public:
  bool InstallDriverIfMissing() override { return true; }
  bool OpenUnit() override { return false; }
  std::uint32_t TransferPacket(const std::uint8_t*, std::uint32_t, std::uint8_t*,
                               std::uint32_t) override {
    return 0;
  }
  std::uint32_t ResetLinkPipe(std::uint8_t) override { return 0; }
  void CloseUnit() override {}
};

}  // namespace

int main(int argc, char** argv) {
  EntryOptions options;
  options.makeLink = [] { return std::make_unique<NoUnitLink>(); };
  return RunControlCentre(argc, argv, options);
}
