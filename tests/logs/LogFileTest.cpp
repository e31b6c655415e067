// SPDX-License-Identifier: GPL-3.0-or-later
// The log file itself: its exact bytes, appending, sizes, trimming, the
// viewer, deleting, failures, and records surviving a kill mid-write.

#include "logs/LogFile.h"
#include "support/FakeServices.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QByteArray kHead =
    "Timestamp\tCpu speed\tCpu load\tRear fan\tFront fan\tDisplay line 1\tDisplay line 2\t"
    "Display interval\tWarning handling\tBoot temp\tHeater effect\tOperation hours\t"
    "Sensor 1\tSensor 1Sensor temp\tSensor 1Sensor alarm value\tSensor 1Sensor shutdown value\tSensor 1Higher/Lower\t"
    "Sensor 2\tSensor 2Sensor temp\tSensor 2Sensor alarm value\tSensor 2Sensor shutdown value\tSensor 2Higher/Lower\t"
    "Sensor 3\tSensor 3Sensor temp\tSensor 3Sensor alarm value\tSensor 3Sensor shutdown value\tSensor 3Higher/Lower\t"
    "Sensor 4\tSensor 4Sensor temp\tSensor 4Sensor alarm value\tSensor 4Sensor shutdown value\tSensor 4Higher/Lower\t"
    "Sensor 5\tSensor 5Sensor temp\tSensor 5Sensor alarm value\tSensor 5Sensor shutdown value\tSensor 5Higher/Lower\t"
    "\r\n \r\n";

LogRecord SampleRecord() {
  return {.Timestamp = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 5), Qt::UTC),
          .CpuSpeed = 2400, .CpuLoad = 37,
          .Sensors = {LogSensor{"Evaporator", -45, 1, -10, 0}, LogSensor{"Ambient", 24, 0, 5, 0},
                      LogSensor{"N/A", -99, 0, 5, 0}, LogSensor{"Optional", 0, 1, 60, 70}, LogSensor{"", 0, 0, 5, 0}},
          .RearFan = 1450, .FrontFan = 980,
          .DisplayLine1 = "Speed Load Temp", .DisplayLine2 = "Quelmark", .DisplayInterval = 5000,
          .WarningHandling = "Alarm Sound", .BootTemperature = -33, .HeaterEffect = 100, .OperationHours = 1234,
          .SystemStatus = "Normal"};
}

const QByteArray kSampleLine =
    "7 Dec 2026 12:00:05\t2400\t37\t1450\t980\tSpeed Load Temp\tQuelmark\t5000\tAlarm Sound\t-33\t100\t1234\t"
    "Evaporator\t-45\t-10\t0\t1\tAmbient\t24\t5\t0\t0\tN/A\t-99\t5\t0\t0\tOptional\t0\t60\t70\t1\t\t0\t5\t0\t0\t"
    "Normal\t\r\n";

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

class LogFileTest : public ::testing::Test {
 protected:
  QString Path(const QString& name) const { return dir.path() + "/" + name; }
  QTemporaryDir dir;
};

// --- format ----------------------------------------------------------------

TEST_F(LogFileTest, ANewFileHoldsTheHeadTheSpaceLineAndTheRecordByteForByte) {
  // The folder does not exist yet either.
  const LogFile log(Path("state/quelmark/Error.log"), QLocale(QLocale::C));
  log.WriteRecord(SampleRecord());
  EXPECT_EQ(ReadAll(log.FileName()), kHead + kSampleLine);
}

TEST(LogTimestamp, TheTimeZoneIsLeftOutWhereverTheLocalePutsIt) {
  const struct {
    const char* format;
    const char* expected;
  } cases[] = {
      {"HH:mm:ss t", "HH:mm:ss"},
      {"h:mm:ss AP tttt", "h:mm:ss AP"},
      {"t HH:mm:ss", "HH:mm:ss"},
      {"HH 'at' mm:ss t", "HH 'at' mm:ss"},  // quoted letters are literal text
      {"HH:mm:ss", "HH:mm:ss"},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeFormatWithoutZone(c.format), c.expected) << c.format;

  // Every locale Qt knows: no zone, and the time itself still there.
  const QDateTime at(QDate(2026, 12, 7), QTime(12, 0, 5), Qt::UTC);
  for (const QLocale& locale :
       QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory)) {
    const QString text = locale.toString(at, TimeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
    EXPECT_FALSE(text.contains("UTC") || text.contains("GMT")) << locale.name().toStdString() << ": " << text.toStdString();
    EXPECT_EQ(text, text.trimmed()) << locale.name().toStdString();
  }
}

TEST_F(LogFileTest, LaterRecordsAreAppendedAndEarlierBytesStayAsTheyWere) {
  const LogFile log(Path("Error.log"), QLocale(QLocale::C));
  log.WriteRecord(SampleRecord());
  LogRecord second = SampleRecord();
  second.CpuLoad = 99;
  log.WriteRecord(second);
  QByteArray secondLine = kSampleLine;
  secondLine.replace("\t37\t", "\t99\t");
  EXPECT_EQ(ReadAll(log.FileName()), kHead + kSampleLine + secondLine);
}

TEST_F(LogFileTest, ALastLineCutShortIsEndedBeforeTheNextRecord) {
  const LogFile log(Path("Error.log"), QLocale(QLocale::C));
  WriteFile(log.FileName(), kHead + "7 Dec 2026 11:00:00 UTC\t2400\t3");
  log.WriteRecord(SampleRecord());
  EXPECT_EQ(ReadAll(log.FileName()), kHead + "7 Dec 2026 11:00:00 UTC\t2400\t3\r\n" + kSampleLine);
}

TEST_F(LogFileTest, TabsAndLineBreaksInsideTextsCannotSplitARecord) {
  const LogFile log(Path("Error.log"), QLocale(QLocale::C));
  LogRecord r = SampleRecord();
  r.Sensors[1].Name = "Amb\tient";
  r.DisplayLine2 = "two\r\nlines";
  log.WriteRecord(r);
  const QList<QByteArray> lines = ReadAll(log.FileName()).split('\n');
  ASSERT_EQ(lines.size(), 4);  // head, space, record, and the empty rest after the last CR LF
  EXPECT_EQ(lines[2].count('\t'), 38);
  EXPECT_TRUE(lines[2].contains("\ttwo  lines\t"));
  EXPECT_TRUE(lines[2].contains("\tAmb ient\t"));
}

// The text of the LogError a write raises, or "no error".
QString WriteError(const LogFile& log) {
  try {
    log.WriteRecord(SampleRecord());
  } catch (const LogError& e) {
    return QString::fromLocal8Bit(e.what());
  }
  return "no error";
}

TEST_F(LogFileTest, AFolderOrFileThatCannotBeWrittenIsReportedWithItsReason) {
  WriteFile(Path("plain-file"), "x");
  const QString underAFile = WriteError(LogFile(Path("plain-file/logs/Error.log")));
  EXPECT_TRUE(underAFile.startsWith("Cannot create folder")) << underAFile.toStdString();

  ASSERT_TRUE(QDir(dir.path()).mkdir("Error.log"));  // a folder where the file should be
  EXPECT_EQ(WriteError(LogFile(Path("Error.log"))),
            QString("Cannot open file \"%1\". Is a directory").arg(Path("Error.log")));
}

// --- size, trim, view, delete ------------------------------------------------

TEST_F(LogFileTest, SizeIsWholeThousandsOfBytesAndDeletingAMissingFileIsNoFailure) {
  const LogFile log(Path("Operatation.log"));
  EXPECT_EQ(log.SizeKb(), 0);  // no file
  EXPECT_NO_THROW(log.Delete());
  WriteFile(log.FileName(), QByteArray(999, 'x'));
  EXPECT_EQ(log.SizeKb(), 0);
  WriteFile(log.FileName(), QByteArray(1999, 'x'));
  EXPECT_EQ(log.SizeKb(), 1);
  log.Delete();
  EXPECT_FALSE(QFile::exists(log.FileName()));
}

QByteArray NumberedLines(int count) {
  QByteArray out;
  for (int i = 1; i <= count; ++i) out += "line " + QByteArray::number(i) + "\r\n";
  return out;
}

TEST_F(LogFileTest, TrimOldestKeepsTheNewestLinesByItsFormula) {
  const LogFile log(Path("Error.log"));

  WriteFile(log.FileName(), NumberedLines(203));  // n = 200, keep = 2 * 75 = 150
  log.TrimOldest(25);
  QByteArray expected;
  for (int i = 51; i <= 203; ++i) expected += "line " + QByteArray::number(i) + "\r\n";
  EXPECT_EQ(ReadAll(log.FileName()), expected);

  WriteFile(log.FileName(), NumberedLines(50));  // n below 100: only the last three stay
  log.TrimOldest(25);
  EXPECT_EQ(ReadAll(log.FileName()), "line 48\r\nline 49\r\nline 50\r\n");

  for (const auto& [lines, percent] : {std::pair{4, 25}, std::pair{203, 0}}) {
    WriteFile(log.FileName(), NumberedLines(lines));
    log.TrimOldest(percent);
    EXPECT_EQ(ReadAll(log.FileName()), NumberedLines(lines)) << lines << " lines, " << percent << " %";
  }
}

TEST_F(LogFileTest, TheViewerGetsTheFileNameAsOneArgumentAndOnlyForAnExistingFile) {
  ASSERT_TRUE(QDir(dir.path()).mkdir("my logs"));
  const LogFile log(Path("my logs/Error \"old\".log"));
  FakeLauncher launcher;
  log.OpenInViewer(launcher);
  EXPECT_TRUE(launcher.started.empty());

  WriteFile(log.FileName(), kHead);
  log.OpenInViewer(launcher);
  ASSERT_EQ(launcher.started.size(), 1u);
  EXPECT_EQ(launcher.started[0].program, "xdg-open");
  EXPECT_EQ(launcher.started[0].arguments, QStringList{log.FileName()});
}

// --- a kill while writing ----------------------------------------------------

// Records the probe reported as written before it was killed are all in the
// file, whole, each on its own line.
TEST_F(LogFileTest, AKillWhileWritingLosesNoFinishedRecord) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    const QString path = Path(QString("kill-%1/Error.log").arg(round));
    QProcess probe;
    probe.start(VCC_LOG_WRITER_PROBE, {path});
    ASSERT_TRUE(probe.waitForStarted(10000));

    // The last number the probe printed on a whole line.
    QByteArray printed;
    const auto reported = [&] {
      const qsizetype end = printed.lastIndexOf('\n');
      return end < 0 ? 0 : printed.left(end).split('\n').last().toInt();
    };
    const int killAfter = 40 + 90 * round;
    while (reported() < killAfter && probe.waitForReadyRead(20000)) printed += probe.readAllStandardOutput();
    probe.kill();  // SIGKILL
    ASSERT_TRUE(probe.waitForFinished(10000));
    printed += probe.readAllStandardOutput();
    ASSERT_GE(reported(), killAfter);

    QByteArray content = ReadAll(path);
    ASSERT_TRUE(content.startsWith(kHead));
    // A kill can stop the kernel between the pages of one write: the record
    // being written then (never reported) may end the file in part. Every
    // record written before it is whole.
    if (!content.endsWith("\r\n")) {
      const QByteArray tail = content.mid(content.lastIndexOf("\r\n") + 2);
      EXPECT_LT(tail.count('\t'), 38) << "a whole record without its line end";
      content.chop(tail.size());
    }
    QByteArray body = content.mid(kHead.size());
    body.replace("\r\n", "\n");
    ASSERT_FALSE(body.contains('\r'));
    const QList<QByteArray> records = body.chopped(1).split('\n');
    ASSERT_GE(records.size(), reported());
    for (int i = 0; i < records.size(); ++i) {
      const QList<QByteArray> fields = records[i].split('\t');
      ASSERT_EQ(fields.size(), 39) << "record " << i + 1;
      EXPECT_EQ(fields[1].toInt(), i + 1);
      EXPECT_EQ(fields[38], "");
    }
  }
}

}  // namespace
