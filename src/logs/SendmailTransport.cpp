// SPDX-License-Identifier: GPL-3.0-or-later
#include "logs/SendmailTransport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
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

int SendmailTransport::Send(const MailMessage& message) {
  if (program_.isEmpty()) return mailresult::kFailure;

  QByteArray attachment;
  if (!message.AttachmentPath.isEmpty()) {
    QFile file(message.AttachmentPath);
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
      return mailresult::kAttachmentNotFound;
    attachment = file.readAll();
    if (file.error() != QFileDevice::NoError) return mailresult::kAttachmentNotFound;
  }
  // Base64 and the "=_" inside never meet, so the boundary cannot occur in
  // the encoded attachment.
  const QByteArray boundary = "=_vcc_" + QUuid::createUuid().toByteArray(QUuid::Id128);
  const QByteArray mail = BuildMimeMessage(message, attachment, boundary);

  const QDeadlineTimer deadline(timeoutMs_);
  QProcess sendmail;
  sendmail.setStandardOutputFile(QProcess::nullDevice());
  sendmail.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  sendmail.start(program_, {QStringLiteral("-t"), QStringLiteral("-oi")});
  if (!sendmail.waitForStarted(static_cast<int>(deadline.remainingTime()))) return mailresult::kFailure;
  sendmail.write(mail);
  sendmail.closeWriteChannel();
  if (!sendmail.waitForFinished(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)))) {
    sendmail.kill();
    sendmail.waitForFinished(1000);
    return mailresult::kFailure;
  }
  if (sendmail.exitStatus() != QProcess::NormalExit) return mailresult::kFailure;
  switch (sendmail.exitCode()) {
    case 0: return mailresult::kSuccess;
    case 65:  // EX_DATAERR
    case 67:  // EX_NOUSER
    case 68:  // EX_NOHOST
      return mailresult::kUnknownRecipient;
    default: return mailresult::kFailure;
  }
}
