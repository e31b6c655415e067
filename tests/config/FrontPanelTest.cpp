// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/FrontPanel.h"

#include <gtest/gtest.h>

using namespace frontpanel;

namespace {

std::string Bytes16(const packet::Request& r) {
  return std::string(reinterpret_cast<const char*>(r.data()) + 3, 16);
}

}  // namespace

TEST(FrontPanel, LinePacketsCarrySixteenCharactersAndEightBlanks) {
  const packet::Request r = MakeLinePacket(0x06, "Quelmark");
  EXPECT_EQ(r[0], 0x01);
  EXPECT_EQ(r[1], 0x06);
  EXPECT_EQ(r[2], 0x02);
  EXPECT_EQ(Bytes16(r), "Quelmark        ");
  for (int i = 19; i <= 26; ++i) EXPECT_EQ(r[i], 0x20) << i;
  EXPECT_EQ(r[27], 0x04);

  EXPECT_EQ(Bytes16(MakeLinePacket(0x06, "TEMPERATURE CRITICAL - SHUTTING DOWN")), "TEMPERATURE CRIT");
  EXPECT_EQ(Bytes16(MakeLinePacket(0x07, "")), std::string(16, ' '));
}

TEST(FrontPanel, TextGoesOutInTheDisplaysCodePage) {
  EXPECT_EQ(ToWindows1252(QString::fromUtf8("\u00E9\u20AC\u00DF\u00B2")), QByteArray("\xE9\x80\xDF\xB2"));
  EXPECT_EQ(ToWindows1252(QString::fromUtf8("\u2713x")), QByteArray("?x"));  // not in the code page
}

TEST(FrontPanel, LineTwoComposesTheChosenReadings) {
  Line2Inputs in;
  in.temperatures = {-35, 25, -99, 0, 0};
  in.cpuSpeedMHz = 2400;
  in.cpuLoadPercent = 7;
  in.displayType = 'E';
  const QString defaults = ComposeLine2(5, 6, 0, in);
  EXPECT_EQ(defaults, QString::fromUtf8("2400MHz 7% -35\u00DF"));
  EXPECT_EQ(Bytes16(MakeLinePacket(0x07, defaults)), std::string("2400MHz 7% -35\xDF "));

  in.displayType = 'W';
  EXPECT_EQ(Line2Piece(0, in), QString::fromUtf8("-35\u00B2"));
  in.displayType = 'X';
  EXPECT_EQ(Line2Piece(0, in), "-35");
  in.celsius = false;
  EXPECT_EQ(Line2Piece(0, in), "-31");
  EXPECT_EQ(Line2Piece(2, in), "-146");  // a missing reading is shown as the number it is
  EXPECT_EQ(Line2Piece(-1, in), "");

  EXPECT_EQ(ComposeLine2(7, 7, 7, in), QString(14, ' '));

  // Longer than the display: cut at 16, the degree sign is lost.
  in.celsius = true;
  in.displayType = 'E';
  in.cpuLoadPercent = 100;
  EXPECT_EQ(Bytes16(MakeLinePacket(0x07, ComposeLine2(5, 6, 0, in))), "2400MHz 100% -35");
}
