// SPDX-License-Identifier: GPL-3.0-or-later
// The error report: the texts the sender queues for each outcome (against a
// fake transport), the sendmail transport's outcome mapping (against small
// stand-in sendmail scripts), and a report delivered through msmtp to a mail
// server on this machine.

#include "core/StatusMessageQueue.h"
#include "logs/MailSender.h"
#include "logs/SendmailTransport.h"
#include "PeakMemory.h"
#include "support/FakeServices.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kLog = QStringLiteral("/var/log/vcc/Error.log");
const QStringList kSentTexts{"Initializing Mail Interface", "Complete Logging in to the Mail System",
                             "Logged In", "Sending File", "File sent", "Logging off the Mail System"};

// Runs the event loop until `over` holds or 20 s have passed.
template <typename Done>
void RunUntil(Done over) {
  QElapsedTimer waited;
  waited.start();
  while (!over() && waited.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

QStringList Report(IMailTransport& transport, const QString& attachment = kLog) {
  StatusMessageQueue queue;
  bool finished = false;
  SendMail(transport, kErrorReportSubject, kErrorReportAddress, kErrorReportText, attachment, &queue,
           [&] { finished = true; });
  RunUntil([&] { return finished; });
  return {queue.Texts().begin(), queue.Texts().end()};
}

// kSentTexts with the fifth text, the outcome of the send, replaced.
QStringList SendFailed(const QString& reason) {
  QStringList texts = kSentTexts;
  texts[4] = "Error sending mail: " + reason;
  return texts;
}

bool WriteFile(const QString& path, const QByteArray& bytes, QFile::Permissions permissions = {}) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return false;
  f.close();
  return permissions ? f.setPermissions(permissions) : true;
}

// --- texts, fake transport ----------------------------------------------------

TEST(MailSenderTexts, NoMailProgramTellsTheFourMissingPartsAndSendsNothing) {
  FakeMailTransport mail;
  mail.found = false;
  EXPECT_EQ(Report(mail), (QStringList{"Initializing Mail Interface",
                                      "Error sending mail: Unable to find MAPI32 Library",
                                      "Error sending mail: Unable to find MAPISendMail",
                                      "Error sending mail: Unable to find MAPILogon",
                                      "Error sending mail: Unable to find MAPILogoff",
                                      "Complete Logging in to the Mail System"}));
  EXPECT_TRUE(mail.logons.empty());
  EXPECT_TRUE(mail.sent.empty());
  EXPECT_EQ(mail.logoffs, 0);
}

TEST(MailSenderTexts, ASuccessfulSendLogsOnSilentlyOnce) {
  FakeMailTransport mail;
  EXPECT_EQ(Report(mail), kSentTexts);
  EXPECT_EQ(mail.logons, std::vector<bool>{false});
  ASSERT_EQ(mail.sent.size(), 1u);
  EXPECT_EQ(mail.sent[0].AttachmentPath, kLog);
  EXPECT_EQ(mail.logoffs, 1);
}

TEST(MailSenderTexts, ACancelledLogonIsToldAndTheSendStillTried) {
  FakeMailTransport mail;
  mail.logonResults = {mailresult::kLoginFailure, mailresult::kUserAbort};
  QStringList expected = kSentTexts;
  expected.insert(2, "Error sending mail: User requested to cancel mail");
  EXPECT_EQ(Report(mail), expected);
  EXPECT_EQ(mail.logons, (std::vector<bool>{false, true}));
}

TEST(MailSenderTexts, EachSendResultHasItsText) {
  const std::vector<std::pair<int, QString>> cases{
      {mailresult::kUserAbort, "User Requested Mail Cancel"},
      {mailresult::kInsufficientMemory, "Not enough memory to send a message"},
      {mailresult::kAttachmentNotFound, "Unable to attach file"},
      {mailresult::kAttachmentOpenFailure, "Unable to attach file"},
      {mailresult::kUnknownRecipient, "Unable to resolve address"},
      {mailresult::kBadRecipientType, "Unknown recipient type"},
      {mailresult::kTextTooLarge, "Too much Message Text"},
      {mailresult::kFailure, "Undefined Failure"},
      {mailresult::kTimedOut, "The mail program did not finish in time and was stopped"},
      {99, "Undefined Failure"},
  };
  for (const auto& [code, text] : cases) {
    FakeMailTransport mail;
    mail.sendResult = code;
    EXPECT_EQ(Report(mail), SendFailed(text)) << code;
  }
}

TEST(MailSenderTexts, WithoutAnAttachmentATestMessageGoesOut) {
  FakeMailTransport mail;
  EXPECT_EQ(Report(mail, QString()), (QStringList{"Initializing Mail Interface",
                                                 "Complete Logging in to the Mail System", "Logged In",
                                                 "Mail Sent", "Logging off the Mail System"}));
  ASSERT_EQ(mail.sent.size(), 1u);
  EXPECT_EQ(mail.sent[0].Subject, "SendMail Test");
  EXPECT_EQ(mail.sent[0].NoteText, "MessageBody only.");

  mail.sendResult = mailresult::kBadRecipientType;
  EXPECT_EQ(Report(mail, QString())[3], "Error sending mail: Unknown recipient type ");
}

// --- the sendmail transport against stand-in scripts -------------------------

class SendmailTransportTest : public ::testing::Test {
 protected:
  // A stand-in sendmail that keeps its arguments and input, then runs `tail`.
  QString Script(const QString& tail) {
    const QString path = dir.path() + "/sendmail";
    EXPECT_TRUE(WriteFile(path, QString("#!/bin/sh\necho \"$@\" > '%1/args'\ncat > '%1/input'\n%2\n")
                                    .arg(dir.path(), tail).toUtf8(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    return path;
  }
  QString Attachment(const QByteArray& bytes) {
    const QString path = dir.path() + "/Error.log";
    EXPECT_TRUE(WriteFile(path, bytes));
    return path;
  }
  QByteArray Kept(const char* name) {
    QFile f(dir.path() + "/" + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  int Send(SendmailTransport& t, const QString& attachment) {
    EXPECT_TRUE(t.FindMailProgram());
    int result = -1;
    t.Send({kErrorReportSubject, kErrorReportAddress, kErrorReportText, attachment}, [&](int r) { result = r; });
    RunUntil([&] { return result != -1; });
    return result;
  }

  QTemporaryDir dir;
};

TEST_F(SendmailTransportTest, AMissingAttachmentIsReportedWithoutStartingSendmail) {
  SendmailTransport transport(Script("exit 0"));
  EXPECT_EQ(Report(transport, dir.path() + "/missing/Error.log"), SendFailed("Unable to attach file"));
  EXPECT_FALSE(QFile::exists(dir.path() + "/args"));
}

TEST_F(SendmailTransportTest, AMissingSendmailCountsAsNoMailSystem) {
  SendmailTransport transport(dir.path() + "/no-sendmail");
  EXPECT_FALSE(transport.FindMailProgram());
}

TEST_F(SendmailTransportTest, TheMessageGoesToSendmailTWithTheLogAttached) {
  SendmailTransport transport(Script("exit 0"));
  const QByteArray log = "Timestamp\t\r\n \r\n7.12.26 12:00:00\t\xc3\xa4\t\r\n";
  EXPECT_EQ(Send(transport, Attachment(log)), mailresult::kSuccess);
  EXPECT_EQ(Kept("args"), "-t -oi\n");
  const QByteArray input = Kept("input");
  EXPECT_TRUE(input.startsWith("To: errorreport@vornalith.example\nSubject: Error.log\nMIME-Version: 1.0\n"));
  EXPECT_TRUE(input.contains("\n\nThis is an autosent error report\n"));
  EXPECT_TRUE(input.contains("Content-Disposition: attachment; filename=\"Error.log\"\n\n" + log.toBase64() + "\n"));
}

TEST_F(SendmailTransportTest, ExitStatusesMapOntoMailResults) {
  const std::vector<std::pair<QString, int>> cases{
      {"exit 0", mailresult::kSuccess},
      {"exit 65", mailresult::kUnknownRecipient},
      {"exit 67", mailresult::kUnknownRecipient},
      {"exit 68", mailresult::kUnknownRecipient},
      {"exit 1", mailresult::kFailure},
      {"exit 75", mailresult::kFailure},
      {"kill -SEGV $$", mailresult::kFailure},
  };
  const QString attachment = Attachment("x\r\n");
  for (const auto& [tail, result] : cases) {
    SendmailTransport transport(Script(tail));
    EXPECT_EQ(Send(transport, attachment), result) << tail.toStdString();
  }
}

TEST_F(SendmailTransportTest, AnErrorLogTooBigToMailIsRefusedWithoutReadingIt) {
  SendmailTransport transport(Script("exit 0"));
  QFile log(dir.path() + "/Error.log");
  ASSERT_TRUE(log.open(QIODevice::WriteOnly) && log.resize(2LL << 30));  // sparse: no disk
  log.close();
  QStringList texts;
  QElapsedTimer clock;
  clock.start();
  const long peakKb = PeakResidentKbWhile([&] { texts = Report(transport, log.fileName()); });
  EXPECT_LT(clock.elapsed(), 500);
  EXPECT_LT(peakKb, 300 * 1024 + kFreedButHeldKb) << "rise of resident memory, kB";
  EXPECT_EQ(texts, SendFailed("Error log too big to mail (over 10000kb)"));
  EXPECT_FALSE(QFile::exists(dir.path() + "/args"));
}

TEST_F(SendmailTransportTest, ASendmailThatHangsIsStoppedAfterTheTimeBoundWhileTheEventLoopRuns) {
  SendmailTransport transport(Script("exec sleep infinity"), 500);
  const QString attachment = Attachment("x\r\n");
  ASSERT_TRUE(transport.FindMailProgram());
  int result = -1;
  QElapsedTimer clock;
  clock.start();
  transport.Send({kErrorReportSubject, kErrorReportAddress, kErrorReportText, attachment}, [&](int r) { result = r; });
  EXPECT_LT(clock.elapsed(), 300);
  // A second report while the first waits is told that the mail system is busy.
  EXPECT_EQ(transport.Logon(true), mailresult::kTooManySessions);
  EXPECT_EQ(Report(transport, attachment), (QStringList{"Initializing Mail Interface",
                                                       "Complete Logging in to the Mail System",
                                                       "Error sending mail: Mail system busy.  Try to transmit later",
                                                       "Logged In", "Sending File", "Error sending mail: Not Logged In",
                                                       "Logging off the Mail System"}));
  RunUntil([&] { return result != -1; });
  EXPECT_EQ(result, mailresult::kTimedOut);
  EXPECT_GE(clock.elapsed(), 500);
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_EQ(transport.Logon(false), mailresult::kSuccess);
}

// --- end to end: msmtp and a mail server on 127.0.0.1 ------------------------

class DeliveryTest : public SendmailTransportTest {
 protected:
  // Starts the mail server and a sendmail that is msmtp sending to it; false
  // when the tools are missing.
  bool StartServer(bool refuse = false) {
    if (!QFile::exists("/usr/bin/msmtp")) {
      ADD_FAILURE() << "msmtp is missing: run scripts/install-deps.sh";
      return false;
    }
    server.start("/usr/bin/python3", {VCC_SMTP_SINK, "60", refuse ? "refuse" : "accept"});
    if (!server.waitForStarted(10000)) {
      ADD_FAILURE() << "python3 did not start";
      return false;
    }
    const int port = ServerLine().trimmed().toInt();
    if (port <= 0) {
      ADD_FAILURE() << "no port from the mail server";
      return false;
    }
    const QString config = dir.path() + "/msmtprc";
    sendmail = dir.path() + "/sendmail";
    return WriteFile(config,
                     QString("account default\nhost 127.0.0.1\nport %1\nfrom vcc-test@localhost\nauth off\ntls off\n")
                         .arg(port).toUtf8(),
                     QFile::ReadOwner | QFile::WriteOwner) &&
           WriteFile(sendmail, QString("#!/bin/sh\nexec /usr/bin/msmtp -C '%1' \"$@\"\n").arg(config).toUtf8(),
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  // The next whole line the server prints, or an empty text after 20 s.
  QByteArray ServerLine() {
    QElapsedTimer waited;
    waited.start();
    while (!server.canReadLine() && server.state() == QProcess::Running && waited.elapsed() < 20000)
      server.waitForReadyRead(1000);
    if (!server.canReadLine()) {
      ADD_FAILURE() << "no line from the mail server (python3-aiosmtpd missing?): "
                    << server.readAllStandardError().toStdString();
      return {};
    }
    return server.readLine();
  }
  void TearDown() override {
    server.kill();
    server.waitForFinished(5000);
  }

  QProcess server;
  QString sendmail;
};

TEST_F(DeliveryTest, AReportReachesTheMailServerWithTheLogAttached) {
  ASSERT_TRUE(StartServer());
  QByteArray log = "Timestamp\tCpu speed\t\r\n \r\n";
  for (int i = 0; i < 300; ++i) log += "7.12.26 12:00:00\t2400\t\xc3\xa4 " + QByteArray::number(i) + "\t\r\n";
  SendmailTransport transport(sendmail);
  EXPECT_EQ(Report(transport, Attachment(log)), kSentTexts);

  const QJsonObject received = QJsonDocument::fromJson(ServerLine()).object();
  EXPECT_EQ(received["rcpt"].toArray(), QJsonArray{"errorreport@vornalith.example"});
  QByteArray mail = QByteArray::fromBase64(received["data"].toString().toLatin1());
  mail.replace("\r\n", "\n");

  const qsizetype bodyStart = mail.indexOf("\n\n");
  ASSERT_GT(bodyStart, 0);
  const QByteArray headers = mail.left(bodyStart);
  EXPECT_TRUE(headers.contains("\nSubject: Error.log\n") || headers.startsWith("Subject: Error.log\n"));
  EXPECT_TRUE(mail.contains("\n\nThis is an autosent error report\n"));

  const QByteArray disposition = "Content-Disposition: attachment; filename=\"Error.log\"\n\n";
  const qsizetype at = mail.indexOf(disposition);
  ASSERT_GT(at, 0);
  const qsizetype from = at + disposition.size();
  const QByteArray encoded = mail.mid(from, mail.indexOf("\n--", from) - from);
  EXPECT_EQ(QByteArray::fromBase64(encoded), log);
}

TEST_F(DeliveryTest, ARecipientTheServerRefusesIsAnUnresolvedAddress) {
  ASSERT_TRUE(StartServer(true));
  SendmailTransport transport(sendmail);
  EXPECT_EQ(Report(transport, Attachment("x\r\n")), SendFailed("Unable to resolve address"));
}

}  // namespace
