// SPDX-License-Identifier: GPL-3.0-or-later
// The watch without a window, on a face that only records: the data poll,
// the cycle it drives to an armed shutdown, and the close.

#include "watch/Watch.h"

#include "host/CPUThread.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "support/StatusReply.h"

#include <gtest/gtest.h>

namespace {

// A request as the link saw it: as long as the exchange decided.
Bytes Sent(const packet::Request& request, std::size_t length) {
  return Bytes(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(length));
}

struct RecordingFace : WatchFace {
  int polled = 0, blinkStops = 0, shown = 0;
  bool animating = false;
  QString line1 = QStringLiteral("Vornalith");

  int WarningHandling() const override { return 3; }
  void AnimateTrayIcon(bool on) override { animating = on; }
  void ShowTrayPicture(int) override {}
  void StopTrayBlink() override { ++blinkStops; }
  void OpenWindow() override {}
  bool CycleWanted() const override { return true; }
  void ShowStatus(bool) override {}
  void ShowStatusPanel() override { ++shown; }
  void ShowSensorStates() override {}
  void ShowTemperatures() override {}
  void ShowFans() override {}
  void RefreshSetupRows() override {}
  void ShowOperatingHours() override {}
  void ShowOperatingHoursNow() override {}
  void Polled() override { ++polled; }
  QString PrimaryText() const override { return line1; }
  void SetPrimaryText(const QString& text) override { line1 = text; }
  QString SecondaryText() const override { return QStringLiteral("Cooling"); }
  bool AlternationChosen() const override { return true; }
  int DisplayParam(int) const override { return 7; }  // blank
  SnapshotSettings CurrentSettings() const override { return {{}, {}, 0, {}, QStringLiteral("12"), 0}; }
  void OfferToClearOperationLog(int) override {}
  void RaisePending(PendingWrite) override {}
  void ResetSettingsToDefaults() override {}
};

struct WatchWithoutWindow : ::testing::Test {
  FakeServices fakes;
  RecordingFace face;
  QStringList reports;
  Watch watch{fakes.services(), face, [this](const QString& t) { reports << t; }};

  void SetUp() override {
    watch.Exchange().SetStarted(true);  // the link is open
    SensorTable[1].Name = QStringLiteral("Evaporator");
    SensorTable[1].Higher = true;
    SensorTable[1].WarningLimit = -10;
    SensorTable[1].ShutdownLimit = 0;
  }
  void TearDown() override { ResetDeviceData(); }
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
  watch.CreateQueue();

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
  watch.Log().Open(fakes.logDir.path() + QLatin1Char('/'));
  watch.CreateQueue();
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
