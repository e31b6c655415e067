// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file as a typed key: values round-trip, the file form is read,
// and every failure is reported by the value's name without losing stored data.

#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "monitor/QStringPrinter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <climits>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace {

using Open = SettingsKey::Open;

// The text of the failure a call reports, or nothing when it reports none.
std::optional<QString> FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const SettingsError& e) {
    return e.Text();
  }
  return std::nullopt;
}

// Makes a file or folder refuse writes for as long as it lives. Permission
// bits do not stop root, so root gets the immutable attribute instead; where
// neither works the test that needs it is skipped.
class WriteProtection {
 public:
  explicit WriteProtection(const QString& path)
      : path_(path), native_(QFile::encodeName(path)), isDir_(QFileInfo(path).isDir()) {
    if (::geteuid() != 0)
      chmoded_ = ::chmod(native_.constData(), isDir_ ? 0555 : 0444) == 0;
    else
      immutable_ = SetImmutable(true);
    effective_ = isDir_ ? !QFile(path + "/probe").open(QIODevice::WriteOnly)
                        : !QFile(path).open(QIODevice::ReadWrite);
  }
  ~WriteProtection() {
    if (chmoded_) ::chmod(native_.constData(), isDir_ ? 0755 : 0644);
    if (immutable_) SetImmutable(false);
    QFile::remove(path_ + "/probe");
  }
  bool Effective() const { return effective_; }

 private:
  bool SetImmutable(bool on) {
    const int fd = ::open(native_.constData(), O_RDONLY | (isDir_ ? O_DIRECTORY : 0));
    int flags = 0;
    bool done = false;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
      done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (fd >= 0) ::close(fd);
    return done;
  }
  QString path_;
  QByteArray native_;
  bool isDir_;
  bool chmoded_ = false;
  bool immutable_ = false;
  bool effective_ = false;
};

class SettingsKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    folder_ = dir_.path() + "/quelmark";
    path_ = folder_ + "/tessalinique.conf";
  }

  void WriteFile(const QByteArray& content) {
    QDir().mkpath(folder_);
    QFile f(path_);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
  }

  QByteArray FileContent() const {
    QFile f(path_);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
  QString folder_;
  QString path_;
};

TEST_F(SettingsKeyTest, MissingKeyIsEmptyForLoadsAndStaysMissing) {
  SettingsKey key(path_, Open::Existing);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_FALSE(key.ValueExists(settings::kFahrenCel));
  EXPECT_EQ(FailureOf([&] { key.ReadInteger("Sensor1Warn"); }),
            QStringLiteral("Failed to get data for 'Sensor1Warn'"));
  EXPECT_EQ(FailureOf([&] { key.WriteInteger("Sensor1Warn", 3); }),
            QStringLiteral("Failed to set data for 'Sensor1Warn'"));
  EXPECT_FALSE(QFileInfo::exists(folder_));
}

TEST_F(SettingsKeyTest, EachTypeComesBackInAFreshAccessor) {
  const QString awkward = QString::fromUtf8("  @Surface, \"rear\"; a=b %20 \\ ä°\nnext  ");
  const double when = 45123.75;
  {
    SettingsKey key(path_, Open::CreateIfMissing);
    key.WriteInteger("Sensor1Warn", -10);
    key.WriteInteger("Min", INT_MIN);
    key.WriteInteger("Max", INT_MAX);
    key.WriteBool(settings::kFahrenCel, false);
    key.WriteInteger("Sensor2HL", 7);
    key.WriteString("Sensor2", awkward);
    key.WriteString("Sensor3", QString());
    key.WriteDateTime(settings::kNextRemind, when);
    key.WriteInteger(settings::kWarningHandlingIndex, 2);
    key.WriteInteger(settings::kDisplayUpdateInterval, 7);
  }
  SettingsKey key(path_, Open::Existing);
  ASSERT_TRUE(key.IsOpen());
  EXPECT_EQ(key.ReadInteger("Sensor1Warn"), -10);
  EXPECT_EQ(key.ReadInteger("Min"), INT_MIN);
  EXPECT_EQ(key.ReadInteger("Max"), INT_MAX);
  EXPECT_FALSE(key.ReadBool(settings::kFahrenCel));
  EXPECT_TRUE(key.ReadBool("Sensor2HL"));
  EXPECT_EQ(key.ReadString("Sensor2"), awkward);
  EXPECT_TRUE(key.ValueExists("Sensor3"));
  EXPECT_EQ(key.ReadString("Sensor3"), QString());
  EXPECT_EQ(std::bit_cast<std::uint64_t>(key.ReadDateTime(settings::kNextRemind)),
            std::bit_cast<std::uint64_t>(when));
  // Names with blanks stay whole.
  EXPECT_EQ(key.ReadInteger(settings::kWarningHandlingIndex), 2);
  EXPECT_EQ(key.ReadInteger(settings::kDisplayUpdateInterval), 7);
  EXPECT_FALSE(key.ValueExists("Warning"));
  EXPECT_FALSE(key.ValueExists("Display Update"));
}

TEST_F(SettingsKeyTest, ReadsTheDocumentedFileForm) {
  WriteFile("[General]\n"
            "Sensor1Warn=dword:-12\n"
            "Sensor4=sz:Harddisk\n"
            "Warning%20handling%20Index=dword:3\n"
            "Next%20Remind=hex:000000000000f03f\n");
  SettingsKey key(path_, Open::Existing);
  EXPECT_EQ(key.ReadInteger("Sensor1Warn"), -12);
  EXPECT_EQ(key.ReadString("Sensor4"), QStringLiteral("Harddisk"));
  EXPECT_EQ(key.ReadInteger(settings::kWarningHandlingIndex), 3);
  EXPECT_EQ(key.ReadDateTime(settings::kNextRemind), 1.0);
}

TEST_F(SettingsKeyTest, OnlyAChangedValueRewritesTheFile) {
  const auto inode = [this] {
    struct stat st {};
    return ::stat(QFile::encodeName(path_).constData(), &st) == 0 ? st.st_ino : ino_t{0};
  };
  SettingsKey(path_, Open::CreateIfMissing).WriteString("DisplayLine1P", "Speed Load Temp");
  const ino_t first = inode();
  ASSERT_NE(first, ino_t{0});
  SettingsKey(path_, Open::CreateIfMissing).WriteString("DisplayLine1P", "Speed Load Temp");
  EXPECT_EQ(inode(), first) << "an unchanged value replaced the file";

  SettingsKey(path_, Open::CreateIfMissing).WriteString("DisplayLine1P", "Vornalith");
  EXPECT_NE(inode(), first);
  EXPECT_EQ(SettingsKey(path_, Open::Existing).ReadString("DisplayLine1P"), "Vornalith");

  // A file removed behind the program's back gets the value again.
  ASSERT_TRUE(QFile::remove(path_));
  SettingsKey(path_, Open::CreateIfMissing).WriteString("DisplayLine1P", "Vornalith");
  EXPECT_EQ(SettingsKey(path_, Open::Existing).ReadString("DisplayLine1P"), "Vornalith");
}

TEST_F(SettingsKeyTest, ValuesOfTheWrongTypeAreReportedByName) {
  WriteFile("[General]\n"
            "Text=sz:5\n"
            "Number=dword:5\n"
            "Untagged=5\n"
            "NotANumber=dword:abc\n"
            "Empty=dword:\n"
            "TooBig=dword:4294967296\n"
            "List=dword:1, dword:2\n"
            "Short=hex:00000000000000\n"
            "Long=hex:000000000000000000\n"
            "NotHex=hex:00000000000000zz\n");
  SettingsKey key(path_, Open::Existing);
  const auto invalid = [](const char* name) { return QStringLiteral("Invalid data type for '%1'").arg(name); };
  for (const char* name : {"Text", "Untagged", "NotANumber", "Empty", "TooBig", "List", "Short"})
    EXPECT_EQ(FailureOf([&] { key.ReadInteger(name); }), invalid(name));
  EXPECT_EQ(FailureOf([&] { key.ReadBool("Text"); }), invalid("Text"));
  EXPECT_EQ(FailureOf([&] { key.ReadString("Number"); }), invalid("Number"));
  for (const char* name : {"Number", "Short", "Long", "NotHex"})
    EXPECT_EQ(FailureOf([&] { key.ReadDateTime(name); }), invalid(name));
  EXPECT_EQ(FailureOf([&] { key.ReadString("Absent"); }), QStringLiteral("Failed to get data for 'Absent'"));
}

TEST_F(SettingsKeyTest, DamagedFileLosesOnlyTheDamagedValues) {
  static const char kDamaged[] =
      "\x00\x01\xff\xfe garbage\n[General]\n"
      "Sensor1Warn=dword:-7\n"
      "this line means nothing\n"
      "BootIndex=@Variant(\x00\x00\x7f\xff)\n"
      "Param1Index=dword:4\n"
      "[broken section\n";
  WriteFile(QByteArray(kDamaged, sizeof kDamaged - 1));
  {
    SettingsKey key(path_, Open::Existing);
    EXPECT_EQ(key.ReadInteger("Sensor1Warn"), -7);
    EXPECT_EQ(key.ReadInteger("Param1Index"), 4);
    EXPECT_EQ(FailureOf([&] { key.ReadInteger("BootIndex"); }),
              QStringLiteral("Invalid data type for 'BootIndex'"));
  }
  {
    SettingsKey key(path_, Open::CreateIfMissing);
    key.WriteInteger("Sensor1SDN", 2);
  }
  SettingsKey key(path_, Open::Existing);
  EXPECT_EQ(key.ReadInteger("Sensor1Warn"), -7);
  EXPECT_EQ(key.ReadInteger("Param1Index"), 4);
  EXPECT_EQ(key.ReadInteger("Sensor1SDN"), 2);
}

TEST_F(SettingsKeyTest, UnreadableKeyReportsTheValueAskedFor) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
  WriteFile("[General]\nFahrenCel=dword:0\n");
  ASSERT_EQ(::chmod(QFile::encodeName(path_).constData(), 0), 0);  // there, but not to be read
  SettingsKey key(path_, Open::Existing);
  EXPECT_EQ(FailureOf([&] { key.ValueExists(settings::kFahrenCel); }),
            QStringLiteral("Failed to get data for 'FahrenCel'"));
  EXPECT_EQ(FailureOf([&] { key.ReadInteger("Sensor1Warn"); }),
            QStringLiteral("Failed to get data for 'Sensor1Warn'"));
  ::chmod(QFile::encodeName(path_).constData(), 0644);
}

TEST_F(SettingsKeyTest, KeyThatCannotBeCreatedRefusesWrites) {
  QFile blocker(folder_);  // a plain file where the folder should be
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  SettingsKey key(path_, Open::CreateIfMissing);
  EXPECT_EQ(FailureOf([&] { key.WriteString("Sensor2", "Ambient"); }),
            QStringLiteral("Failed to set data for 'Sensor2'"));
  EXPECT_TRUE(QFileInfo(folder_).isFile());
}

TEST_F(SettingsKeyTest, RefusedWriteLeavesTheStoredValuesAsTheyWere) {
  {
    SettingsKey key(path_, Open::CreateIfMissing);
    key.WriteInteger("Sensor1Warn", -10);
    key.WriteString("Sensor2", "Ambient");
  }
  const QByteArray before = FileContent();
  WriteProtection protection(path_);
  if (!protection.Effective()) GTEST_SKIP() << "cannot make a file unwritable on this system";

  SettingsKey save(path_, Open::CreateIfMissing);
  EXPECT_EQ(FailureOf([&] { save.WriteInteger("Sensor1Warn", 25); }),
            QStringLiteral("Failed to set data for 'Sensor1Warn'"));
  EXPECT_EQ(FailureOf([&] { save.WriteInteger("Sensor1SDN", 30); }),
            QStringLiteral("Failed to set data for 'Sensor1SDN'"));
  EXPECT_EQ(FileContent(), before);

  // Later accessors in the same process see the disk, not the refused values.
  SettingsKey load(path_, Open::Existing);
  EXPECT_EQ(load.ReadInteger("Sensor1Warn"), -10);
  EXPECT_FALSE(load.ValueExists("Sensor1SDN"));
  EXPECT_EQ(load.ReadString("Sensor2"), QStringLiteral("Ambient"));
}

TEST_F(SettingsKeyTest, RefusedWriteIsReportedEvenForADamagedFile) {
  WriteFile("[General]\nSensor1Warn=dword:-10\n[broken\nx=@Variant(\x01)\n");
  const QByteArray before = FileContent();
  WriteProtection protection(path_);
  if (!protection.Effective()) GTEST_SKIP() << "cannot make a file unwritable on this system";
  SettingsKey save(path_, Open::CreateIfMissing);
  EXPECT_EQ(FailureOf([&] { save.WriteInteger("Sensor1Warn", 25); }),
            QStringLiteral("Failed to set data for 'Sensor1Warn'"));
  EXPECT_EQ(FileContent(), before);
}

TEST_F(SettingsKeyTest, ReadOnlyFolderRefusesANewKey) {
  QDir().mkpath(folder_);
  WriteProtection protection(folder_);
  if (!protection.Effective()) GTEST_SKIP() << "cannot make a folder unwritable on this system";
  SettingsKey key(path_, Open::CreateIfMissing);
  EXPECT_EQ(FailureOf([&] { key.WriteBool(settings::kFahrenCel, true); }),
            QStringLiteral("Failed to set data for 'FahrenCel'"));
  EXPECT_FALSE(QFileInfo::exists(path_));
}

TEST_F(SettingsKeyTest, DeletingTheKeyRemovesEverything) {
  {
    SettingsKey key(path_, Open::CreateIfMissing);
    key.WriteInteger("Sensor1Warn", 4);
  }
  EXPECT_TRUE(SettingsKey::DeleteKey(path_));
  EXPECT_FALSE(QFileInfo::exists(path_));
  EXPECT_TRUE(SettingsKey::DeleteKey(path_));

  SettingsKey key(path_, Open::Existing);
  EXPECT_FALSE(key.ValueExists("Sensor1Warn"));
  SettingsKey again(path_, Open::CreateIfMissing);
  EXPECT_FALSE(again.ValueExists("Sensor1Warn"));
}

TEST_F(SettingsKeyTest, ASaveKeepsTheCommentLines) {
  WriteFile("; Settings of the cooler in rack 4\n"
            "# edited by hand\n"
            "\n"
            "[General]\n"
            "; the evaporator\n"
            "Sensor1Warn=dword:-10\n"
            "# Unit%20USB%20id=sz:04d8:f3a1\n"
            "Sensor2=sz:Ambient\n"
            "; the end\n");
  {
    SettingsKey key(path_, Open::CreateIfMissing);
    key.WriteInteger("Sensor1Warn", -12);
    key.WriteBool(settings::kFahrenCel, false);
  }
  EXPECT_EQ(FileContent(),
            "; Settings of the cooler in rack 4\n"
            "# edited by hand\n"
            "\n"
            "[General]\n"
            "FahrenCel=dword:0\n"
            "; the evaporator\n"
            "Sensor1Warn=dword:-12\n"
            "# Unit%20USB%20id=sz:04d8:f3a1\n"
            "Sensor2=sz:Ambient\n"
            "; the end\n");
  SettingsKey key(path_, Open::Existing);
  EXPECT_EQ(key.ReadInteger("Sensor1Warn"), -12);
  EXPECT_FALSE(key.ReadBool(settings::kFahrenCel));
  EXPECT_EQ(key.ReadString("Sensor2"), QStringLiteral("Ambient"));
  EXPECT_FALSE(key.ValueExists(settings::kUnitUsbId));
}

TEST_F(SettingsKeyTest, OnlyASmallRegularFileIsUsed) {
  QDir().mkpath(folder_);
  const QByteArray big = "[General]\nSensor1Warn=dword:3\n" +
                         QByteArray(SettingsKey::kLargestSettingsFile - 30, ';') + "\n";
  ASSERT_EQ(big.size(), SettingsKey::kLargestSettingsFile + 1);
  const std::vector<std::pair<std::function<void()>, QString>> cases{
      {[&] { QDir().mkpath(path_); }, "it is a folder, not a regular file"},
      {[&] { ASSERT_EQ(::mkfifo(QFile::encodeName(path_).constData(), 0600), 0); }, "it is a FIFO, not a regular file"},
      {[&] { WriteFile(big); }, "it holds 1048577 bytes, more than the 1048576 a settings file may hold"}};
  for (const auto& [make, why] : cases) {
    make();
    const QString refusal = "Settings file " + path_ + " not used: " + why +
                            ". The built-in settings are in use and the file is left as it is.";
    EXPECT_EQ(SettingsKey::Refusal(path_), refusal);
    // Said by the first access, whichever it is; then a missing key whose writes go nowhere.
    EXPECT_TRUE(SettingsKey(path_, Open::Existing).IsOpen());
    EXPECT_EQ(FailureOf([&] { SettingsKey(path_, Open::CreateIfMissing).WriteInteger("Sensor1Warn", 4); }),
              refusal + " Changes made now last until the program ends.");
    SettingsKey load(path_, Open::Existing);
    EXPECT_FALSE(load.IsOpen());
    EXPECT_EQ(FailureOf([&] { EXPECT_FALSE(load.ValueExists("Sensor1Warn")); }), std::nullopt);
    EXPECT_EQ(FailureOf([&] { SettingsKey(path_, Open::CreateIfMissing).WriteInteger("Sensor1Warn", 4); }),
              std::nullopt);
    EXPECT_FALSE(SettingsKey::DeleteKey(path_));
    ASSERT_TRUE(QFileInfo::exists(path_)) << why.toStdString();
    if (QFileInfo(path_).isDir()) QDir().rmdir(path_);
    else QFile::remove(path_);
  }
  EXPECT_EQ(QFileInfo(folder_).isDir(), true);

  // The largest file that is used.
  WriteFile(big.left(SettingsKey::kLargestSettingsFile - 1) + "\n");
  EXPECT_EQ(SettingsKey(path_, Open::Existing).ReadInteger("Sensor1Warn"), 3);
}

TEST(SettingsLocation, FollowsTheUsersConfigFolder) {
  QTemporaryDir home;
  const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
  EXPECT_EQ(SettingsKey::DefaultPath(), home.path() + "/quelmark/tessalinique.conf");
  qputenv("XDG_CONFIG_HOME", saved);
}

TEST(StoredDateTime, CountsDaysFromTheEndOf1899) {
  EXPECT_EQ(DateTimeToDays(QDateTime(QDate(1899, 12, 30), QTime(0, 0))), 0.0);
  EXPECT_EQ(DateTimeToDays(QDateTime(QDate(1900, 1, 1), QTime(12, 0))), 2.5);
  EXPECT_EQ(DaysToDateTime(2.5), QDateTime(QDate(1900, 1, 1), QTime(12, 0)));
  EXPECT_EQ(DaysToDateTime(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
  EXPECT_EQ(DaysToDateTime(1.0 - 1e-12), QDateTime(QDate(1899, 12, 31), QTime(0, 0)));
  const QDateTime now(QDate(2024, 2, 29), QTime(23, 59, 59, 999));
  EXPECT_EQ(DaysToDateTime(DateTimeToDays(now)), now);
}

}  // namespace
