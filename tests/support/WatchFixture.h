// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The watch without a window: a Watch on fakes, and a face that answers with
// the choices a test sets and records what it was asked to show. The device
// data is global, so each test begins and ends with a clean one.

#include "config/SettingsStore.h"
#include "config/SettingsValues.h"
#include "core/StatusMessageQueue.h"
#include "monitor/DeviceData.h"
#include "monitor/QStringPrinter.h"
#include "support/FakeServices.h"
#include "support/StatusReply.h"
#include "watch/Watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <ostream>
#include <vector>

inline void PrintTo(PanelColour colour, std::ostream* os) {
  static const char* const names[] = {"Plain", "Green", "Orange", "Red", "Silver"};
  *os << names[static_cast<int>(colour)];
}

struct RecordingFace : WatchFace {
  // The choices, as a window holding its defaults would give them, except
  // that the alarm action does nothing.
  int handling = 3;
  bool cycleWanted = true;
  bool alternationChosen = true;
  QString line1 = settings::kDefaultLine1Primary;
  QString line1Secondary = settings::kDefaultLine1Secondary;
  std::array<int, 3> displayParams{7, 7, 7};  // line 2 blank

  // What the watch asked for.
  bool animating = false;
  int opened = 0, blinkStops = 0, statusShown = 0, statusPanelShown = 0, sensorStatesShown = 0;
  int rowRefreshes = 0, temperaturesShown = 0, fansShown = 0, hoursShown = 0, polled = 0, resets = 0;
  std::vector<int> pictures;
  std::vector<PendingWrite> raised;

  bool Raised(PendingWrite write) const { return std::find(raised.begin(), raised.end(), write) != raised.end(); }

  int WarningHandling() const override { return handling; }
  void AnimateTrayIcon(bool on) override { animating = on; }
  void ShowTrayPicture(int index) override { pictures.push_back(index); }
  // The window's icon stops blinking here as it does when told to stop animating.
  void StopTrayBlink() override {
    ++blinkStops;
    animating = false;
  }
  void OpenWindow() override { ++opened; }
  bool CycleWanted() const override { return cycleWanted; }
  void ShowStatus(bool) override { ++statusShown; }
  void ShowStatusPanel() override { ++statusPanelShown; }
  void ShowSensorStates() override { ++sensorStatesShown; }
  void ShowTemperatures() override { ++temperaturesShown; }
  void ShowFans() override { ++fansShown; }
  void RefreshSetupRows() override { ++rowRefreshes; }
  void ShowOperatingHours() override { ++hoursShown; }
  void ShowOperatingHoursNow() override { ++hoursShown; }
  void Polled() override { ++polled; }
  QString PrimaryText() const override { return line1; }
  void SetPrimaryText(const QString& text) override { line1 = text; }
  QString SecondaryText() const override { return line1Secondary; }
  bool AlternationChosen() const override { return alternationChosen; }
  int DisplayParam(int number) const override { return displayParams.at(static_cast<std::size_t>(number - 1)); }
  SnapshotSettings CurrentSettings() const override {
    return {line1, line1Secondary, 5000, QStringLiteral("Ignore"), QStringLiteral("-33"), 0};
  }
  void OfferToClearOperationLog(int) override {}
  void RaisePending(PendingWrite write) override { raised.push_back(write); }
  void ResetSettingsToDefaults() override { ++resets; }
};

class WatchFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    watch.Exchange().SetStarted(true);  // the link is open
    watch.CreateQueue();
  }
  void TearDown() override { ResetDeviceData(); }

  // The sensors as a start without stored limits leaves them: the evaporator
  // "Higher" at -10 / 0, the others "Lower" at 5 / 0, named as given.
  static void UseDefaultSensors(std::initializer_list<const char*> names = {}) {
    ResetSensorLimitsToDefaults();
    SensorTable[1].Name = QStringLiteral("Evaporator");
    int n = 2;
    for (const char* name : names) SensorTable[n++].Name = QString::fromUtf8(name);
  }

  // The error and operation logs in the fakes' log folder.
  void OpenLogs() { watch.Log().Open(fakes.logDir.path() + QLatin1Char('/')); }

  // The unit answers each read with a reply of its number, the status read
  // with `reading`, and each write with the 3-byte acknowledgement.
  void AnswerAsTheUnit() {
    fakes.link.respond = [this](const Bytes& req) {
      if (req.size() == packet::kWritePacketLength) return FakeLink::Answer{3, Bytes{0x01, req[1], 0x04}};
      const std::uint8_t number = req.size() > 1 ? req[1] : 0;
      return FakeLink::Answer{28, number == packet::kStatus ? MakeReplyFrame(number, StatusPayload(reading))
                                                            : MakeReplyFrame(number)};
    };
  }
  // One status read through the exchange, its reply decoded and the cycle run.
  void FeedStatus() { watch.ExchangePacket(packet::MakeReadRequest(packet::kStatus)); }
  // The data poll as its timer runs it: line 2, then the status read.
  void Poll() { watch.UpdateDataTimerTimer(); }

  QStringList QueueTexts() const { return {watch.Queue()->Texts().begin(), watch.Queue()->Texts().end()}; }
  QStringList Drain() {
    const QStringList texts = QueueTexts();
    while (!watch.Queue()->IsEmpty()) watch.Queue()->TakeFirst();
    return texts;
  }

  Reading reading;
  FakeServices fakes;
  RecordingFace face;
  QStringList reports;
  Watch watch{fakes.services(), face, [this](const QString& text) { reports << text; }};
};
