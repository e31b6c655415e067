// SPDX-License-Identifier: GPL-3.0-or-later
// The exchange without a window: what is sent, which decoder a reply reaches,
// and what a failed exchange leaves behind.

#include "device/UnitExchange.h"
#include "support/FakeServices.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct Exchange : ::testing::Test {
  FakeLink link;
  QStringList reports, notices;
  std::vector<std::pair<int, QByteArray>> decoded;
  UnitExchange exchange{{&link, [this](const QString& t) { reports << t; }, [this](const QString& t) { notices << t; }}};

  Exchange() {
    for (int number : {1, 2, 3, 6, 7})
      exchange.SetDecoder(number, [this, number](const QByteArray& payload) { decoded.emplace_back(number, payload); });
  }
};

TEST_F(Exchange, NothingIsSentBeforeTheLinkIsStartedAndEachReplyReachesItsDecoder) {
  exchange.ExchangePacket(packet::MakeReadRequest(packet::kStatus));
  EXPECT_TRUE(link.requests.empty());

  exchange.SetStarted(true);
  packet::Payload payload{};
  payload[0] = 0x41;
  link.respond = [&](const Bytes& request) {
    return FakeLink::Answer{28, MakeReplyFrame(request[1] == 0x03 ? 0x03 : 0x02, payload)};
  };
  exchange.ExchangePacket(packet::MakeReadRequest(packet::kStatus));  // answered as 02
  exchange.ExchangePacket(packet::MakeReadRequest(packet::kFanBoot));
  ASSERT_EQ(decoded.size(), 2u);
  EXPECT_EQ(decoded[0].first, 2);  // by the reply's number, not the request's
  EXPECT_EQ(decoded[1].first, 3);
  EXPECT_EQ(decoded[0].second.at(0), 'A');
  EXPECT_TRUE(reports.isEmpty());
}

TEST_F(Exchange, AFailedExchangeResetsBothPipesAndTheLinkChangeIsSignalledOnce) {
  exchange.SetStarted(true);
  QSignalSpy changes(&exchange, &UnitExchange::linkStateChanged);
  link.respond = [](const Bytes&) { return FakeLink::Answer{0, {}}; };
  exchange.ExchangePacket(packet::MakeReadRequest(packet::kStatus));
  exchange.ExchangePacket(packet::MakeReadRequest(packet::kStatus));
  EXPECT_FALSE(exchange.LinkUp());
  EXPECT_EQ(link.resets, (std::vector<std::uint8_t>{packet::kPipeToUnit, packet::kPipeFromUnit,
                                                    packet::kPipeToUnit, packet::kPipeFromUnit}));
  EXPECT_EQ(notices, (QStringList{kLinkLostText, kLinkLostText}));
  EXPECT_TRUE(decoded.empty());

  link.respond = nullptr;  // replies again
  exchange.ExchangePacket(packet::MakeReadRequest(packet::kStatus));
  EXPECT_TRUE(exchange.LinkUp());
  ASSERT_EQ(changes.size(), 2);
  EXPECT_FALSE(changes[0][0].toBool());
  EXPECT_TRUE(changes[1][0].toBool());
}

TEST_F(Exchange, AFailureInsideIsReportedAndTheNextExchangeGoesOn) {
  exchange.SetStarted(true);
  exchange.SetDecoder(1, [](const QByteArray&) { throw std::runtime_error("cannot decode"); });
  exchange.ExchangePacket(packet::MakeReadRequest(packet::kStatus));
  EXPECT_EQ(reports, QStringList{"Error: cannot decode"});
  exchange.ExchangePacket(packet::MakeReadRequest(packet::kUnitSettings));
  EXPECT_EQ(link.requests.size(), 2u);
  ASSERT_EQ(decoded.size(), 1u);
  EXPECT_EQ(decoded[0].first, 2);
}

}  // namespace
