// SPDX-License-Identifier: GPL-3.0-or-later
#include "logs/SendmailTransport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUuid>

namespace {

bool IsPlainAscii(const QString& text) {
  for (QChar c : text) {
    if (c.unicode() < 0x20 || c.unicode() > 0x7e) return false;
  }
  return true;
}

// A header value on one line; anything beyond printable ASCII as an encoded
// word. Line breaks are dropped so that no text can add headers of its own.
QByteArray HeaderValue(QString text) {
  text.remove(QLatin1Char('\r'));
  text.remove(QLatin1Char('\n'));
  if (IsPlainAscii(text)) return text.toLatin1();
  return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
}

QByteArray FileNameParameter(const QString& name) {
  if (IsPlainAscii(name)) {
    QByteArray quoted = name.toLatin1();
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    return "filename=\"" + quoted + "\"";
  }
  return "filename*=UTF-8''" + name.toUtf8().toPercentEncoding();
}

QByteArray Base64Lines(const QByteArray& data) {
  const QByteArray b64 = data.toBase64();
  QByteArray out;
  for (qsizetype i = 0; i < b64.size(); i += 76) out += b64.mid(i, 76) + '\n';
  return out;
}

bool IsExecutableFile(const QString& path) {
  const QFileInfo info(path);
  return info.isFile() && info.isExecutable();
}

}  // namespace

QByteArray BuildMimeMessage(const MailMessage& message, const QByteArray& attachment,
                            const QByteArray& boundary) {
  QByteArray out;
  out += "To: " + HeaderValue(message.Recipient) + '\n';
  out += "Subject: " + HeaderValue(message.Subject) + '\n';
  out += "MIME-Version: 1.0\n";
  const QByteArray textPart =
      "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n" +
      message.NoteText.toUtf8() + '\n';
  if (message.AttachmentPath.isEmpty()) return out + textPart;

  const QString name = QFileInfo(message.AttachmentPath).fileName();
  out += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\n\n";
  out += "--" + boundary + '\n' + textPart;
  out += "--" + boundary + '\n';
  out += "Content-Type: application/octet-stream; name=\"" + HeaderValue(name) + "\"\n";
  out += "Content-Transfer-Encoding: base64\n";
  out += "Content-Disposition: attachment; " + FileNameParameter(name) + "\n\n";
  out += Base64Lines(attachment);
  out += "--" + boundary + "--\n";
  return out;
}

SendmailTransport::SendmailTransport(QString program, int timeoutMs)
    : fixedProgram_(std::move(program)), timeoutMs_(timeoutMs) {}

SendmailTransport::~SendmailTransport() {
  if (!running_) return;
  running_->disconnect();
  running_->kill();
  running_->waitForFinished(1000);
}

bool SendmailTransport::FindMailProgram() {
  program_.clear();
  if (!fixedProgram_.isEmpty()) {
    if (IsExecutableFile(fixedProgram_)) program_ = fixedProgram_;
    return !program_.isEmpty();
  }
  program_ = QStandardPaths::findExecutable(QStringLiteral("sendmail"));
  if (program_.isEmpty() && IsExecutableFile(QStringLiteral("/usr/sbin/sendmail")))
    program_ = QStringLiteral("/usr/sbin/sendmail");
  return !program_.isEmpty();
}

int SendmailTransport::Logon(bool) { return running_ ? mailresult::kTooManySessions : mailresult::kSuccess; }

void SendmailTransport::Send(const MailMessage& message, std::function<void(int)> done) {
  if (running_) return done(mailresult::kLoginFailure);
  if (program_.isEmpty()) return done(mailresult::kFailure);

  QByteArray attachment;
  if (!message.AttachmentPath.isEmpty()) {
    QFile file(message.AttachmentPath);
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
      return done(mailresult::kAttachmentNotFound);
    if (file.size() > kMaxAttachmentBytes) return done(mailresult::kAttachmentTooLarge);
    // Bounded also for a log that grows while it is read.
    attachment = file.read(kMaxAttachmentBytes + 1);
    if (file.error() != QFileDevice::NoError) return done(mailresult::kAttachmentNotFound);
    if (attachment.size() > kMaxAttachmentBytes) return done(mailresult::kAttachmentTooLarge);
  }
  // Base64 and the "=_" inside never meet, so the boundary cannot occur in
  // the encoded attachment.
  const QByteArray boundary = "=_vcc_" + QUuid::createUuid().toByteArray(QUuid::Id128);
  const QByteArray mail = BuildMimeMessage(message, attachment, boundary);

  running_ = std::make_unique<QProcess>();
  done_ = std::move(done);
  QProcess* sendmail = running_.get();
  sendmail->setStandardOutputFile(QProcess::nullDevice());
  sendmail->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  QObject::connect(sendmail, &QProcess::finished, sendmail,
                   [this, sendmail](int code, QProcess::ExitStatus status) {
                     if (status != QProcess::NormalExit) return Finish(sendmail, mailresult::kFailure);
                     switch (code) {
                       case 0: return Finish(sendmail, mailresult::kSuccess);
                       case 65:  // EX_DATAERR
                       case 67:  // EX_NOUSER
                       case 68:  // EX_NOHOST
                         return Finish(sendmail, mailresult::kUnknownRecipient);
                       default: return Finish(sendmail, mailresult::kFailure);
                     }
                   });
  QObject::connect(sendmail, &QProcess::errorOccurred, sendmail, [this, sendmail](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) Finish(sendmail, mailresult::kFailure);
  });
  QTimer::singleShot(timeoutMs_, sendmail, [this, sendmail] { Finish(sendmail, mailresult::kTimedOut); });
  sendmail->start(program_, {QStringLiteral("-t"), QStringLiteral("-oi")});
  if (running_.get() != sendmail) return;  // it did not start, and that has been told
  // Written as sendmail reads it, from the event loop.
  sendmail->write(mail);
  sendmail->closeWriteChannel();
}

void SendmailTransport::Finish(const QProcess* from, int result) {
  if (!running_ || running_.get() != from) return;
  QProcess* sendmail = running_.release();
  sendmail->disconnect();
  if (sendmail->state() == QProcess::NotRunning) {
    // Still inside one of its own signals.
    sendmail->deleteLater();
  } else {
    // Deleting a running process waits for its end; after the kill that is
    // left to the event loop.
    QObject::connect(sendmail, &QProcess::finished, sendmail, &QObject::deleteLater);
    sendmail->kill();
  }
  std::function<void(int)> done = std::move(done_);
  done_ = nullptr;
  done(result);
}
