// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window over fakes, as the window tests in tests/app and tests/logs
// start it; the device data is global, so each start begins from a clean one.

#include "app/TForm1.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "support/StatusReply.h"
#include "ui_TForm1.h"

#include <gtest/gtest.h>

#include <memory>

class WindowFixture : public ::testing::Test {
 protected:
  void SetUp() override { ResetDeviceData(); }
  void TearDown() override { form.reset(); }

  // A window that is not shown yet only takes in readings (no alarms, no texts).
  void Start(bool show = true) { StartWith(fakes.services(), show); }
  void StartWith(const Services& services, bool show = true) {
    form.reset();
    ResetDeviceData();
    form = std::make_unique<TForm1>(services);
    if (show) form->show();
  }
  Ui::TForm1& ui() { return form->ui(); }
  void Poll() { form->ExchangePacket(packet::MakeReadRequest(0x01)); }

  // The unit answers each read with a reply of its number, the status read with
  // `reading`; with ackWrites a write gets only the 3-byte acknowledgement.
  void AnswerAsTheUnit(bool ackWrites) {
    fakes.link.respond = [this, ackWrites](const Bytes& req) {
      if (ackWrites && req.size() == 28) return FakeLink::Answer{3, Bytes{0x01, req[1], 0x04}};
      return FakeLink::Answer{28, req[1] == 0x01 ? MakeReplyFrame(0x01, StatusPayload(reading))
                                                 : MakeReplyFrame(req[1])};
    };
  }

  QStringList QueueTexts() const { return {form->Queue()->Texts().begin(), form->Queue()->Texts().end()}; }
  QStringList Drain() {
    const QStringList texts = QueueTexts();
    while (!form->Queue()->IsEmpty()) form->Queue()->TakeFirst();
    return texts;
  }

  Reading reading;
  FakeServices fakes;
  std::unique_ptr<TForm1> form;
};
