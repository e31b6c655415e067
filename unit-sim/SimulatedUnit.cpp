// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimulatedUnit.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <utility>

namespace unitsim {

namespace {

using Block24 = std::array<std::uint8_t, 24>;

// The firmware works on a fixed tick, so the outcome of a run does not depend
// on how callers slice their Advance() calls.
constexpr double kTick = 0.25;

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kShutdownNotice = 0x85;

// Unit state codes as the unit reports them.
enum : std::uint8_t {
  kPowerUp = 0,
  kPullDown = 1,
  kBootDelay = 2,
  kHolding = 3,
  kRecovering = 4,
  kPowerDown = 5,
  kIdle = 6,
  kRest = 7,
  kTooSlow = 80,
  kRestartDelay = 81,
  kFanFailed = 82,
  kSensorFailed = 83,
  kSwitchError = 87,
};

constexpr std::int16_t kNoReading = -990;

constexpr double kAmbient = 24.0;
constexpr double kPowerUpSeconds = 5.0;
// A compressor at full power would take the evaporator somewhat below the
// coldest boot temperature the host can choose (-40), so every choice is
// reachable.
constexpr double kFullTarget = -45.0;
constexpr double kFullTau = 120.0;
constexpr double kUnloadedTarget = -20.0;
constexpr double kUnloadedTau = 600.0;
// With the compressor off the evaporator is a cold mass that warms slowly; a
// rest of a minute or two stays far from the host's warning limits.
constexpr double kWarmingTau = 900.0;
constexpr double kHoldBand = 2.0;  // above kFullTarget, counts as at temperature
constexpr double kBootDelayLimit = 900.0;
constexpr double kFanFailDelay = 5.0;
constexpr double kFanTau = 1.5;
constexpr double kCondenserTau = 60.0;
constexpr std::uint8_t kFirmwareVersion = 0x16;

enum class Compressor : std::uint8_t { Off = 0, Unloaded = 1, Full = 2 };

std::uint16_t GetLe16(const Block24& b, int at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

void PutLe16(Block24& b, int at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void PutBe16(Block24& b, int at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v & 0xFF);
}

std::int16_t ToTenths(double celsius) {
  const double t = std::clamp(std::round(celsius * 10.0), -32768.0, 32767.0);
  return static_cast<std::int16_t>(t);
}

bool IsNoReading(std::int16_t raw) { return raw >= -999 && raw <= -990; }

Block24 TextBlock(const char* text) {
  Block24 b;
  b.fill(0x20);
  for (std::size_t i = 0; i < b.size() && text[i] != '\0'; ++i) b[i] = static_cast<std::uint8_t>(text[i]);
  return b;
}

Block24 DefaultSettingsBlock() {
  Block24 b{};
  b[0] = 0x01;
  b[1] = 'C';
  b[2] = 0x02;
  b[3] = 'E';
  const char serial[] = "VN22-04711";
  for (int i = 0; i < 10; ++i) b[4 + i] = static_cast<std::uint8_t>(serial[i]);
  PutLe16(b, 14, 0x0116);  // firmware build
  PutLe16(b, 17, 1250);    // operating hours
  PutLe16(b, 19, 312);     // power-on count
  return b;
}

// Held as the host writes it: words 0-7, rear pair, four bytes.
Block24 DefaultFanBootBlock() {
  Block24 b{};
  PutLe16(b, 0, 2100);
  PutLe16(b, 2, 1100);
  PutLe16(b, 4, 1400);
  PutLe16(b, 6, static_cast<std::uint16_t>(static_cast<std::int16_t>(-330)));
  PutLe16(b, 8, 600);    // slowest fan speed the unit accepts
  PutLe16(b, 10, 2200);  // fastest
  PutLe16(b, 12, 20);    // regulation band, tenths
  PutLe16(b, 14, 0);
  PutLe16(b, 16, 1100);
  PutLe16(b, 18, 1400);
  b[20] = 0x01;
  return b;
}

}  // namespace

struct SimulatedUnit::Impl {
  explicit Impl(std::uint64_t seed) : rng(seed) {}

  mutable std::mutex mutex;
  std::mt19937_64 rng;

  // Time: whole ticks run plus time not yet worth a tick.
  std::uint64_t ticks = 0;
  double pendingTime = 0.0;

  bool followsWallClock = false;
  std::chrono::steady_clock::time_point wallStart;
  double wallBase = 0.0;

  // Firmware.
  std::uint8_t phase = kPowerUp;
  double phaseStart = 0.0;
  double phaseLength = 0.0;
  std::optional<std::uint8_t> forced;
  std::uint8_t restCount = 0;
  double hourFraction = 0.0;
  double fanDeadSince[2] = {-1.0, -1.0};

  // Physics and what the sensors make of it.
  double evaporator = kAmbient;
  double condenser = kAmbient;
  double fanSpeed[2] = {0.0, 0.0};
  bool fanStopped[2] = {false, false};
  std::int16_t measured[5] = {ToTenths(kAmbient), ToTenths(kAmbient), kNoReading, kNoReading, kNoReading};
  std::optional<std::int16_t> sensorOverride[5];
  std::uint16_t fanReading[2] = {0, 0};

  Block24 settings = DefaultSettingsBlock();
  Block24 fanBoot = DefaultFanBootBlock();
  Block24 line1 = TextBlock("   VORNALITH    ");
  Block24 line2 = TextBlock("  COOLING UNIT  ");

  // Host side.
  bool plugged = true;
  std::vector<std::uint8_t> pendingAnswer;
  Malformation malformation = Malformation::None;
  int malformCount = 0;
  std::map<int, PlugListener> listeners;
  int nextListenerId = 1;
  RequestObserver requestObserver;

  double NowLocked() const { return static_cast<double>(ticks) * kTick + pendingTime; }

  double Gaussian(double sd) { return std::normal_distribution<double>(0.0, sd)(rng); }
  double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }

  void EnterPhase(std::uint8_t next, double length = 0.0) {
    phase = next;
    phaseStart = NowLocked();
    phaseLength = length;
  }

  double PhaseAge() const { return NowLocked() - phaseStart; }

  std::int16_t BootTenths() const { return static_cast<std::int16_t>(GetLe16(fanBoot, 6)); }

  double FanTarget(int fan) const {
    const int at = fan == 0 ? 2 : 16;
    return (static_cast<double>(GetLe16(fanBoot, at)) + GetLe16(fanBoot, at + 2)) / 2.0;
  }

  std::int16_t Reading(int sensor) const {
    return sensorOverride[sensor] ? *sensorOverride[sensor] : measured[sensor];
  }

  // What the firmware itself sees of the evaporator; nothing when the sensor
  // gives no reading.
  std::optional<double> EvaporatorReading() const {
    const std::int16_t raw = Reading(0);
    if (IsNoReading(raw)) return std::nullopt;
    return raw / 10.0;
  }

  Compressor CompressorMode() const {
    if (forced == kRestartDelay || forced == kSwitchError) return Compressor::Off;
    switch (phase) {
      case kBootDelay:
      case kPullDown:
      case kHolding:
      case kRecovering:
        return Compressor::Full;
      case kIdle:
        return Compressor::Unloaded;
      default:
        return Compressor::Off;
    }
  }

  bool FansRunning() const { return phase != kPowerDown; }

  // A forced FAN FAILED shows as a rear fan without tach signal, unless the
  // user has already stopped one.
  bool FanReadsDead(int fan) const {
    if (fanStopped[fan]) return true;
    return fan == 1 && forced == kFanFailed && !fanStopped[0];
  }

  // The fault the firmware would raise by itself, if any.
  std::optional<std::uint8_t> OwnFault() const {
    if (phase == kPowerDown) return std::nullopt;
    if (!EvaporatorReading()) return kSensorFailed;
    const double now = NowLocked();
    for (int fan = 0; fan < 2; ++fan) {
      if (fanDeadSince[fan] >= 0.0 && now - fanDeadSince[fan] >= kFanFailDelay) return kFanFailed;
    }
    if (phase == kBootDelay && PhaseAge() >= kBootDelayLimit) return kTooSlow;
    return std::nullopt;
  }

  std::uint8_t ReportedState() const {
    if (forced) return *forced;
    if (auto fault = OwnFault()) return *fault;
    return phase;
  }

  void Tick() {
    ++ticks;
    StepFirmware();
    StepPhysics();
    Measure();
  }

  void StepFirmware() {
    const std::optional<double> evap = EvaporatorReading();
    switch (phase) {
      case kPowerUp:
        if (PhaseAge() >= kPowerUpSeconds) EnterPhase(kBootDelay);
        break;
      case kBootDelay:
        if (evap && *evap <= BootTenths() / 10.0) EnterPhase(kPullDown);
        break;
      case kPullDown:
      case kRecovering:
        if (evap && *evap <= kFullTarget + kHoldBand) EnterPhase(kHolding, Uniform(600.0, 1200.0));
        break;
      case kHolding:
        if (PhaseAge() >= phaseLength) EnterPhase(kIdle, Uniform(20.0, 40.0));
        break;
      case kIdle:
        if (PhaseAge() >= phaseLength) {
          EnterPhase(kRest, Uniform(45.0, 90.0));
          ++restCount;
        }
        break;
      case kRest:
        if (PhaseAge() >= phaseLength) EnterPhase(kRecovering);
        break;
      default:
        break;
    }

    if (phase != kPowerDown) {
      hourFraction += kTick;
      if (hourFraction >= 3600.0) {
        hourFraction -= 3600.0;
        const std::uint16_t hours = GetLe16(settings, 17);
        if (hours < 0xFFFF) PutLe16(settings, 17, static_cast<std::uint16_t>(hours + 1));
      }
    }

    const double now = NowLocked();
    for (int fan = 0; fan < 2; ++fan) {
      const bool shouldTurn = FansRunning() && FanTarget(fan) > 0.0;
      if (shouldTurn && fanStopped[fan]) {
        if (fanDeadSince[fan] < 0.0) fanDeadSince[fan] = now;
      } else {
        fanDeadSince[fan] = -1.0;
      }
    }
  }

  static double Approach(double value, double target, double tau) {
    return value + (target - value) * (1.0 - std::exp(-kTick / tau));
  }

  void StepPhysics() {
    switch (CompressorMode()) {
      case Compressor::Full:
        evaporator = Approach(evaporator, kFullTarget, kFullTau);
        condenser = Approach(condenser, kAmbient + 12.0, kCondenserTau);
        break;
      case Compressor::Unloaded:
        evaporator = Approach(evaporator, kUnloadedTarget, kUnloadedTau);
        condenser = Approach(condenser, kAmbient + 6.0, kCondenserTau);
        break;
      case Compressor::Off:
        evaporator = Approach(evaporator, kAmbient, kWarmingTau);
        condenser = Approach(condenser, kAmbient, kCondenserTau);
        break;
    }
    for (int fan = 0; fan < 2; ++fan) {
      if (fanStopped[fan]) {
        fanSpeed[fan] = 0.0;  // a blocked rotor stops at once
        continue;
      }
      const double target = FansRunning() ? FanTarget(fan) : 0.0;
      fanSpeed[fan] = Approach(fanSpeed[fan], target, kFanTau);
    }
  }

  void Measure() {
    measured[0] = ToTenths(evaporator + Gaussian(0.08));
    measured[1] = ToTenths(kAmbient + Gaussian(0.08));
    for (int fan = 0; fan < 2; ++fan) {
      const double noisy = fanSpeed[fan] * (1.0 + Gaussian(0.004));
      fanReading[fan] = (FanReadsDead(fan) || fanSpeed[fan] < 1.0)
                            ? 0
                            : static_cast<std::uint16_t>(std::clamp(std::round(noisy), 0.0, 65535.0));
    }
  }

  void AdvanceLocked(double seconds) {
    if (!(seconds > 0.0)) return;  // also refuses NaN
    // The firmware must not see time it has not lived through yet, so the
    // remainder is parked outside NowLocked() while the ticks run.
    double left = pendingTime + seconds;
    pendingTime = 0.0;
    while (left >= kTick) {
      left -= kTick;
      Tick();
    }
    pendingTime = left;
  }

  Block24 StatusBlock() const {
    Block24 b{};
    const double inPhase = std::min(PhaseAge(), 32767.0);
    PutLe16(b, 0, static_cast<std::uint16_t>(static_cast<std::int16_t>(inPhase)));
    b[2] = ReportedState();
    for (int s = 0; s < 5; ++s) PutLe16(b, 3 + 2 * s, static_cast<std::uint16_t>(Reading(s)));
    PutLe16(b, 13, fanReading[0]);
    PutLe16(b, 15, fanReading[1]);
    b[17] = static_cast<std::uint8_t>(CompressorMode());
    b[18] = kFirmwareVersion;
    PutBe16(b, 19, static_cast<std::uint16_t>(ToTenths(condenser)));
    b[21] = restCount;
    return b;
  }

  // The unit reports one fan pair only: words 0-7, then the four bytes.
  Block24 FanBootReply() const {
    Block24 b{};
    std::copy_n(fanBoot.begin(), 16, b.begin());
    std::copy_n(fanBoot.begin() + 20, 4, b.begin() + 16);
    return b;
  }

  Block24 HeldBlock(std::uint8_t number) const {
    switch (number) {
      case 0x01: return StatusBlock();
      case 0x02: return settings;
      case 0x03: return fanBoot;
      case 0x06: return line1;
      case 0x07: return line2;
      default: return Block24{};
    }
  }

  std::vector<std::uint8_t> Frame(std::uint8_t number, const Block24& payload) const {
    std::vector<std::uint8_t> out(28);
    out[0] = kSoh;
    out[1] = number;
    out[2] = kStx;
    std::copy(payload.begin(), payload.end(), out.begin() + 3);
    out[27] = kEot;
    return out;
  }

  std::vector<std::uint8_t> ReplyFor(std::uint8_t number) const {
    return Frame(number, number == 0x03 ? FanBootReply() : HeldBlock(number));
  }

  void Malform(std::vector<std::uint8_t>& reply) {
    if (malformCount <= 0 || malformation == Malformation::None) return;
    switch (malformation) {
      case Malformation::Short27: reply.resize(27); break;
      case Malformation::Long29: reply.push_back(0x00); break;
      case Malformation::BadFraming: reply[2] = kEot; break;
      case Malformation::Number04: reply[1] = 0x04; break;
      case Malformation::Number05: reply[1] = 0x05; break;
      case Malformation::None: break;
    }
    if (--malformCount == 0) malformation = Malformation::None;
  }

  // Works out the answer to one request; empty when the unit ignores it.
  std::vector<std::uint8_t> Answer(const std::uint8_t* data, std::size_t length) {
    if (length == 3 && data[0] == kSoh && data[2] == kEot) {
      const std::uint8_t number = data[1];
      if (number == kShutdownNotice) {
        EnterPhase(kPowerDown);
        return {kSoh, kShutdownNotice, kEot};
      }
      if (number == 0x01 || number == 0x02 || number == 0x03 || number == 0x06 || number == 0x07) {
        auto reply = ReplyFor(number);
        Malform(reply);
        return reply;
      }
      return {};
    }
    if (length == 28 && data[0] == kSoh && data[2] == kStx && data[27] == kEot) {
      const std::uint8_t number = data[1];
      Block24* target = nullptr;
      switch (number) {
        case 0x02: target = &settings; break;
        case 0x03: target = &fanBoot; break;
        case 0x06: target = &line1; break;
        case 0x07: target = &line2; break;
        default: return {};
      }
      std::copy_n(data + 3, 24, target->begin());
      auto reply = ReplyFor(number);
      Malform(reply);
      return reply;
    }
    return {};
  }
};

SimulatedUnit::SimulatedUnit(std::uint64_t seed) : d(new Impl(seed)) {}

SimulatedUnit::~SimulatedUnit() { delete d; }

bool SimulatedUnit::Receive(const std::uint8_t* data, std::size_t length) {
  std::lock_guard lock(d->mutex);
  if (!d->plugged) return false;
  if (d->requestObserver && data != nullptr) d->requestObserver(data, length);
  d->pendingAnswer = (data != nullptr) ? d->Answer(data, length) : std::vector<std::uint8_t>{};
  return true;
}

void SimulatedUnit::SetRequestObserver(RequestObserver observer) {
  std::lock_guard lock(d->mutex);
  d->requestObserver = std::move(observer);
}

std::vector<std::uint8_t> SimulatedUnit::Transmit(std::size_t maxLength) {
  std::lock_guard lock(d->mutex);
  std::vector<std::uint8_t> out = std::move(d->pendingAnswer);
  d->pendingAnswer.clear();
  if (!d->plugged) return {};
  if (out.size() > maxLength) out.resize(maxLength);
  return out;
}

void SimulatedUnit::RunUntilBooted() {
  constexpr int kLimitSeconds = 1800;
  for (int s = 0; s < kLimitSeconds; ++s) {
    const std::uint8_t state = State();
    if (state != 0 && state != 2) break;  // POWER UP, BOOT DELAY
    Advance(1.0);
  }
}

void SimulatedUnit::Advance(double seconds) {
  std::lock_guard lock(d->mutex);
  d->AdvanceLocked(seconds);
}

double SimulatedUnit::Now() const {
  std::lock_guard lock(d->mutex);
  return d->NowLocked();
}

void SimulatedUnit::FollowWallClock() {
  std::lock_guard lock(d->mutex);
  if (d->followsWallClock) return;
  d->followsWallClock = true;
  d->wallStart = std::chrono::steady_clock::now();
  d->wallBase = d->NowLocked();
}

bool SimulatedUnit::FollowsWallClock() const {
  std::lock_guard lock(d->mutex);
  return d->followsWallClock;
}

void SimulatedUnit::SyncToWallClock() {
  std::lock_guard lock(d->mutex);
  if (!d->followsWallClock) return;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - d->wallStart;
  d->AdvanceLocked(d->wallBase + elapsed.count() - d->NowLocked());
}

bool SimulatedUnit::IsPlugged() const {
  std::lock_guard lock(d->mutex);
  return d->plugged;
}

namespace {
template <typename Listeners>
void Notify(const Listeners& listeners, bool plugged) {
  for (const auto& listener : listeners) listener(plugged);
}
}  // namespace

void SimulatedUnit::Unplug() {
  std::vector<PlugListener> toCall;
  {
    std::lock_guard lock(d->mutex);
    if (!d->plugged) return;
    d->plugged = false;
    d->pendingAnswer.clear();
    for (const auto& [id, listener] : d->listeners) toCall.push_back(listener);
  }
  Notify(toCall, false);
}

void SimulatedUnit::Plug() {
  std::vector<PlugListener> toCall;
  {
    std::lock_guard lock(d->mutex);
    if (d->plugged) return;
    d->plugged = true;
    for (const auto& [id, listener] : d->listeners) toCall.push_back(listener);
  }
  Notify(toCall, true);
}

int SimulatedUnit::AddPlugListener(PlugListener listener) {
  std::lock_guard lock(d->mutex);
  const int id = d->nextListenerId++;
  d->listeners.emplace(id, std::move(listener));
  return id;
}

void SimulatedUnit::RemovePlugListener(int id) {
  std::lock_guard lock(d->mutex);
  d->listeners.erase(id);
}

void SimulatedUnit::ForceState(std::uint8_t code) {
  std::lock_guard lock(d->mutex);
  d->forced = code;
}

void SimulatedUnit::ClearForcedState() {
  std::lock_guard lock(d->mutex);
  d->forced.reset();
}

void SimulatedUnit::PowerCycle() {
  std::lock_guard lock(d->mutex);
  d->EnterPhase(kPowerUp);
  d->fanDeadSince[0] = d->fanDeadSince[1] = -1.0;
}

void SimulatedUnit::SetSensor(int sensor, double celsius) {
  if (sensor < 1 || sensor > 5 || !std::isfinite(celsius)) return;
  std::lock_guard lock(d->mutex);
  d->sensorOverride[sensor - 1] = ToTenths(celsius);
}

void SimulatedUnit::SetSensorMissing(int sensor) {
  if (sensor < 1 || sensor > 5) return;
  std::lock_guard lock(d->mutex);
  d->sensorOverride[sensor - 1] = kNoReading;
}

void SimulatedUnit::ClearSensor(int sensor) {
  if (sensor < 1 || sensor > 5) return;
  std::lock_guard lock(d->mutex);
  d->sensorOverride[sensor - 1].reset();
}

void SimulatedUnit::StopFan(int fan, bool stopped) {
  if (fan < 1 || fan > 2) return;
  std::lock_guard lock(d->mutex);
  d->fanStopped[fan - 1] = stopped;
  if (stopped) d->fanReading[fan - 1] = 0;
}

void SimulatedUnit::MalformNextReplies(Malformation kind, int count) {
  std::lock_guard lock(d->mutex);
  const bool active = kind != Malformation::None && count > 0;
  d->malformation = active ? kind : Malformation::None;
  d->malformCount = active ? count : 0;
}

std::uint8_t SimulatedUnit::State() const {
  std::lock_guard lock(d->mutex);
  return d->ReportedState();
}

double SimulatedUnit::Temperature(int sensor) const {
  if (sensor < 1 || sensor > 5) return -99.0;
  std::lock_guard lock(d->mutex);
  const std::int16_t raw = d->Reading(sensor - 1);
  return IsNoReading(raw) ? -99.0 : raw / 10.0;
}

int SimulatedUnit::FanRpm(int fan) const {
  if (fan < 1 || fan > 2) return 0;
  std::lock_guard lock(d->mutex);
  return d->fanReading[fan - 1];
}

std::array<std::uint8_t, 24> SimulatedUnit::Block(std::uint8_t number) const {
  std::lock_guard lock(d->mutex);
  return d->HeldBlock(number);
}

std::string SimulatedUnit::FrontPanelLine(int line) const {
  if (line != 1 && line != 2) return {};
  std::lock_guard lock(d->mutex);
  const Block24& b = line == 1 ? d->line1 : d->line2;
  return std::string(b.begin(), b.begin() + 16);
}

std::uint16_t SimulatedUnit::OperatingHours() const {
  std::lock_guard lock(d->mutex);
  return GetLe16(d->settings, 17);
}

}  // namespace unitsim
