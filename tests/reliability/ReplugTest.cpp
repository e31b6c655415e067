// SPDX-License-Identifier: GPL-3.0-or-later
// The cable pulled and put back a thousand times under the running program,
// through the driver layer, event thread and link the -sim build uses: each
// unplug reported, each replug decoded at once, no thread or memory left over.

#include "ProcessProbe.h"
#include "SimDriver.h"
#include "SimulatedUnit.h"
#include "app/TForm1.h"
#include "device/UsbLink.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "ui_TForm1.h"

#include <QDBusConnection>
#include <QLabel>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

namespace {

constexpr int kCycles = 1000;

// Attach and detach arrive on the driver layer's event thread.
bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

QStringList Drain(TForm1& form) {
  QStringList out;
  while (!form.Queue()->IsEmpty()) out << form.Queue()->TakeFirst();
  return out;
}

TEST(Replug, AThousandUnplugsAreEachReportedAndEachReplugDecodesAtOnce) {
  ResetDeviceData();
  // Qt's D-Bus connection thread, once started (the tray looks for a
  // notification area on the session bus), lives until the process ends: it
  // is not one the window leaves behind.
  (void)QDBusConnection::sessionBus();
  const int threadsBefore = probe::ThreadCount();
  unitsim::SimulatedUnit unit(5);
  unit.Advance(400);  // past power-up and boot delay
  FakeServices fakes;
  std::unique_ptr<IUnitLink> link = MakeStandInLink(std::make_unique<unitsim::SimDriver>(unit));
  auto* stack = dynamic_cast<UsbLinkStack*>(link.get());
  ASSERT_NE(stack, nullptr);
  auto attached = [stack] { return stack->link->CurrentDevice() != nullptr; };

  Services services = fakes.services();
  services.link = link.get();
  auto form = std::make_unique<TForm1>(services);
  form->show();
  ASSERT_TRUE(form->LinkStarted());
  ASSERT_FALSE(form->Terminating());
  Drain(*form);

  const int threadsRunning = probe::ThreadCount();
  std::size_t heapAfterFirst = 0;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    unit.Unplug();
    ASSERT_TRUE(WaitUntil([&] { return !attached(); })) << "no detach in cycle " << cycle;
    form->Watcher().UpdateDataTimerTimer();
    // One for the line-2 write, one for the status request.
    ASSERT_EQ(Drain(*form), QStringList({kLinkLostText, kLinkLostText})) << "cycle " << cycle;

    unit.Plug();
    ASSERT_TRUE(WaitUntil(attached)) << "no attach in cycle " << cycle;
    const int celsius = -30 - cycle % 10;
    unit.SetSensor(1, celsius);
    form->Watcher().UpdateDataTimerTimer();
    ASSERT_EQ(form->ui().Temp1->text(), QString::number(celsius) + QStringLiteral("\u00B0C"))
        << "the first poll after replug " << cycle << " did not decode";
    ASSERT_FALSE(Drain(*form).contains(kLinkLostText)) << "cycle " << cycle;

    fakes.sound.played.clear();
    fakes.clock.pauses.clear();
    if (cycle == 0) heapAfterFirst = probe::HeapInUse();
    ASSERT_EQ(probe::ThreadCount(), threadsRunning) << "a thread was left behind by cycle " << cycle;
  }
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();
  if (!probe::kSanitized) {
    const long growth = static_cast<long>(probe::HeapInUse()) - static_cast<long>(heapAfterFirst);
    std::printf("replug: heap in use %+ld kB over %d cycles\n", growth / 1024, kCycles - 1);
    EXPECT_LT(growth, 256L * 1024) << "the heap grew with every replug";
  }

  form->close();
  form.reset();
  link.reset();
  EXPECT_TRUE(WaitUntil([&] { return probe::ThreadCount() == threadsBefore; }))
      << probe::ThreadCount() << " threads left, " << threadsBefore << " before";
}

}  // namespace
