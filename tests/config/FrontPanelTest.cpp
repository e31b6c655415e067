// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/FrontPanel.h"

#include "monitor/DeviceData.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

#include <sys/inotify.h>
#include <unistd.h>

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

// --- the panel without a window ----------------------------------------------

namespace {

struct FakePanelContext : FrontPanelContext {
  QString primary = QStringLiteral("Hello"), secondary = QStringLiteral("World");
  std::array<int, 3> params{5, 6, 0};
  bool exchangeFails = false;
  std::vector<packet::Request> sent;

  QString PrimaryText() const override { return primary; }
  QString SecondaryText() const override { return secondary; }
  int DisplayParam(int number) const override { return params[static_cast<std::size_t>(number - 1)]; }
  int SampledCpuClock() const override { return 2400; }
  int SampledCpuLoad() const override { return 7; }
  void ExchangePacket(const packet::Request& request) override {
    if (exchangeFails) throw std::runtime_error("no unit");
    sent.push_back(request);
  }
  std::vector<std::string> Lines(std::uint8_t number) const {
    std::vector<std::string> lines;
    for (const packet::Request& r : sent)
      if (r[1] == number) lines.push_back(Bytes16(r));
    return lines;
  }
};

// Counts the times a file is opened: the settings code itself leaves a file
// alone that already holds a value, so only this tells a save skipped from
// one that read the file and found nothing to change.
class OpenCounter {
 public:
  explicit OpenCounter(const QString& path)
      : fd_(inotify_init1(IN_NONBLOCK)),
        watch_(inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_OPEN)) {}
  ~OpenCounter() { ::close(fd_); }
  bool Watching() const { return watch_ >= 0; }
  int Opens() const {
    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = ::read(fd_, buffer, sizeof buffer)) > 0;) {
      for (const char* p = buffer; p < buffer + got; ++opens)
        p += sizeof(inotify_event) + reinterpret_cast<const inotify_event*>(p)->len;
    }
    return opens;
  }

 private:
  int fd_, watch_;
};

struct FrontPanelWithoutWindow : ::testing::Test {
  FakePanelContext context;
  QStringList reports;
  QTemporaryDir folder;
  QString settingsPath = folder.filePath(QStringLiteral("tessalinique.conf"));
  FrontPanel panel{context, {settingsPath, [this](const QString& t) { reports << t; }}};

  SettingsKey Saved() const { return SettingsKey(settingsPath, SettingsKey::Open::Existing); }
  void TearDown() override { ResetDeviceData(); }
};

TEST_F(FrontPanelWithoutWindow, LineOneAlternatesAndTheTextsAreSavedOnlyWhenTheyOrTheFileChanged) {
  panel.DisplayIntervalTimerTimer();
  EXPECT_FALSE(panel.Line1ShowsPrimary);
  EXPECT_EQ(Saved().ReadString("DisplayLine1P"), "Hello");
  EXPECT_EQ(Saved().ReadString("DisplayLine1S"), "World");
  // The same texts in an untouched file: the file is not even opened.
  const SettingsFileStamp first = SettingsKey::Stamp(settingsPath);
  const OpenCounter counter(settingsPath);
  ASSERT_TRUE(counter.Watching());
  panel.DisplayIntervalTimerTimer();
  panel.DisplayIntervalTimerTimer();
  EXPECT_EQ(counter.Opens(), 0);
  EXPECT_EQ(SettingsKey::Stamp(settingsPath), first);
  EXPECT_EQ(context.Lines(0x06), (std::vector<std::string>{"Hello           ", "World           ",
                                                           "Hello           "}));

  context.secondary = QStringLiteral("There");
  panel.DisplayIntervalTimerTimer();
  EXPECT_NE(SettingsKey::Stamp(settingsPath), first);
  EXPECT_EQ(Saved().ReadString("DisplayLine1S"), "There");

  // Texts that stayed, in a file someone else changed or removed, are written again.
  SettingsKey(settingsPath, SettingsKey::Open::Existing).WriteString("DisplayLine1P", "Edited");
  panel.DisplayIntervalTimerTimer();
  EXPECT_EQ(Saved().ReadString("DisplayLine1P"), "Hello");
  ASSERT_TRUE(QFile::remove(settingsPath));
  panel.DisplayIntervalTimerTimer();
  EXPECT_EQ(Saved().ReadString("DisplayLine1P"), "Hello");
  EXPECT_TRUE(reports.isEmpty());
}

TEST_F(FrontPanelWithoutWindow, AFailedSendIsReportedAndTheTickStillAlternatesAndSaves) {
  context.exchangeFails = true;
  panel.DisplayIntervalTimerTimer();
  EXPECT_EQ(reports, QStringList{"Error: no unit"});
  EXPECT_FALSE(panel.Line1ShowsPrimary);
  EXPECT_EQ(Saved().ReadString("DisplayLine1S"), "World");
  panel.ComposeDisplayLine2();
  EXPECT_EQ(reports.size(), 2);
}

TEST_F(FrontPanelWithoutWindow, LineTwoIsComposedFromTheChoicesAndTheRecordsThenSent) {
  SensorTable[1].Temperature = -35;
  SensorTable[3].Temperature = 41;
  Device.Settings.Bytes[UnitSettingsBlock::kDisplayTypeOffset] = 'E';
  panel.ComposeDisplayLine2();
  EXPECT_EQ(context.Lines(0x07), std::vector<std::string>{"2400MHz 7% -35\xDF "});
  EXPECT_EQ(panel.DisplayLine2Text(), QString::fromUtf8("2400MHz 7% -35\u00DF"));

  // Rebuilt from scratch at every call, from what is chosen and read now.
  context.params = {2, -1, 7};
  CelsiusFlag = false;
  panel.ComposeDisplayLine2();
  EXPECT_EQ(context.Lines(0x07).back(), "106\xDF" "            ");
  EXPECT_TRUE(reports.isEmpty());
}

TEST_F(FrontPanelWithoutWindow, NeverStopsTheAlternationAndALaterPeriodDoesNotRestartIt) {
  panel.SetAlternation(true);
  panel.DispLine1IntChange(4);  // "3 Min": a running alternation keeps running
  EXPECT_TRUE(panel.AlternationRunning());
  EXPECT_EQ(panel.DisplayIntervalTimer.interval(), 180000);

  panel.DispLine1IntChange(7);
  EXPECT_FALSE(panel.AlternationRunning());
  EXPECT_EQ(panel.DisplayIntervalTimer.interval(), 9999999);
  EXPECT_EQ(Saved().ReadInteger("Display Update Interval"), 7);

  panel.DispLine1IntChange(2);
  EXPECT_FALSE(panel.AlternationRunning());
  EXPECT_EQ(panel.DisplayIntervalTimer.interval(), 30000);
  EXPECT_EQ(Saved().ReadInteger("Display Update Interval"), 2);
  EXPECT_TRUE(context.sent.empty());
}

// --- the fan presets -----------------------------------------------------------

TEST(FanPresets, APresetSetsWordZeroAndItsFansPairAndLeavesTheRestAsReceived) {
  FanBootBlock block;
  block.Words = {5, 900, 901, -330, 4, 5, 6, 7, 950, 951};
  const FanBootBlock received = block;
  PendingWrites pending;

  EXPECT_EQ(fanpresets::ChooseMode(block, pending, 0, 1), 750);  // front "Low noise"
  EXPECT_EQ(fanpresets::ChooseMode(block, pending, 1, 2), 2100);  // rear "Turbo"
  EXPECT_TRUE(pending[PendingFanBlock]);
  EXPECT_EQ(block.Words, (std::array<std::int32_t, 10>{2100, 750, 750, -330, 4, 5, 6, 7, 2100, 2100}));
  EXPECT_EQ(fanpresets::ChooseMode(block, pending, 0, 0), 1250);  // "Normal": the pair's midpoint
  EXPECT_EQ(block.Words[FanBootBlock::kFrontFirst], 1100);
  EXPECT_EQ(block.Words[FanBootBlock::kFrontSecond], 1400);

  // "Manual", or no choice, leaves the pair until the bar moves.
  pending.LowerAll();
  const FanBootBlock before = block;
  for (int item : {3, -1}) EXPECT_EQ(fanpresets::ChooseMode(block, pending, 1, item), std::nullopt);
  EXPECT_EQ(block.Words, before.Words);
  EXPECT_FALSE(pending.Any());

  block = received;
  fanpresets::SetManualSpeed(block, pending, 1, 1800);
  EXPECT_TRUE(pending[PendingFanBlock]);
  EXPECT_EQ(block.Words, (std::array<std::int32_t, 10>{5, 900, 901, -330, 4, 5, 6, 7, 1800, 1800}));

  pending.LowerAll();
  fanpresets::SetBothNormal(block);
  EXPECT_EQ(block.Words, (std::array<std::int32_t, 10>{2100, 1100, 1400, -330, 4, 5, 6, 7, 1100, 1400}));
  EXPECT_FALSE(pending.Any());  // the start sends the block itself
}

}  // namespace
