// SPDX-License-Identifier: GPL-3.0-or-later
// The watch without a window, on a face that only records: the data poll,
// the cycle it drives to an armed shutdown, and the close.

#include "host/CPUThread.h"
#include "support/WatchFixture.h"

#include <gtest/gtest.h>

namespace {

// A request as the link saw it: as long as the exchange decided.
Bytes Sent(const packet::Request& request, std::size_t length) {
  return Bytes(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(length));
}

struct WatchWithoutWindow : WatchFixture {
  void SetUp() override {
    WatchFixture::SetUp();
    UseDefaultSensors();
  }
};

TEST_F(WatchWithoutWindow, APollSendsLine2ThenTheStatusAndAHotReplyArms) {
  Reading hot;
  hot.tenths[0] = 50;
  fakes.link.respond = [&](const Bytes& request) {
    const std::uint8_t number = request.size() > 1 ? request[1] : 0;
    return FakeLink::Answer{28, MakeReplyFrame(number, number == packet::kStatus ? StatusPayload(hot)
                                                                                 : packet::Payload{})};
  };
  std::vector<StatusSample> samples;
  QObject::connect(&watch, &Watch::statusSampled, [&](const StatusSample& s) { samples.push_back(s); });

  watch.UpdateDataTimerTimer();
  ASSERT_EQ(fakes.link.requests.size(), 2u);
  EXPECT_EQ(fakes.link.RequestsNumbered(packet::kDisplayLine2).size(), 1u);
  const Bytes& status = fakes.link.requests[1];
  EXPECT_EQ(status, Sent(packet::MakeReadRequest(packet::kStatus), status.size()));
  EXPECT_EQ(face.polled, 1);
  EXPECT_TRUE(watch.Alarm().ShutDownTimer.isActive());
  EXPECT_TRUE(face.animating);
  EXPECT_EQ(face.line1, kCriticalText);
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_TRUE(samples[0].shutdownArmed);
  EXPECT_TRUE(reports.isEmpty());
}

TEST_F(WatchWithoutWindow, TheCloseBlanksThePanelAndEndsSamplerLogsQueueAndLink) {
  OpenLogs();
  watch.CreateCpuSampler();
  ASSERT_TRUE(watch.CpuSpeedMHz() && watch.CpuSampler());

  watch.SendBlankDisplayLines();
  const packet::Payload spaces = [] {
    packet::Payload p;
    p.fill(0x20);
    return p;
  }();
  ASSERT_EQ(fakes.link.requests.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const Bytes& sent = fakes.link.requests[i];
    const std::uint8_t line = i == 0 ? packet::kDisplayLine1 : packet::kDisplayLine2;
    EXPECT_EQ(sent, Sent(packet::MakeWritePacket(line, spaces), sent.size())) << i;
  }

  watch.SetTerminating();
  watch.Close();
  EXPECT_EQ(fakes.link.closeCalls, 1);
  EXPECT_EQ(watch.Queue(), nullptr);
  EXPECT_EQ(watch.Log().ErrorLog(), nullptr);
  EXPECT_EQ(watch.CpuSampler(), nullptr);
  EXPECT_EQ(watch.CpuSpeedMHz(), nullptr);
  // A poll that falls due after the close sends nothing.
  watch.UpdateDataTimerTimer();
  EXPECT_EQ(fakes.link.requests.size(), 2u);
}

}  // namespace
