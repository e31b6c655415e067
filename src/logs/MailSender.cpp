// SPDX-License-Identifier: GPL-3.0-or-later
#include "logs/MailSender.h"

#include "core/StatusMessageQueue.h"

#include <QLoggingCategory>

namespace {

// The status bar says whether the report went, not where to: the recipient
// and the outcome go to the program's own messages (the journal, for a
// program started from the desktop), so that a report that "went" to the
// wrong mailbox can be told apart.
Q_LOGGING_CATEGORY(lcReport, "vornalith.report")

class Progress {
 public:
  explicit Progress(StatusMessageQueue* queue) : queue_(queue) {}
  void Add(const QString& text) {
    if (queue_) queue_->Append(text);
  }
  void AddError(const QString& text) { Add(QStringLiteral("Error sending mail: ") + text); }

 private:
  StatusMessageQueue* queue_;
};

QString LogonErrorText(int result) {
  switch (result) {
    case mailresult::kUserAbort: return QStringLiteral("User requested to cancel mail");
    case mailresult::kLoginFailure: return QStringLiteral("Invalid Mail Logon");
    case mailresult::kInsufficientMemory:
      return QStringLiteral(
          "Insufficient memory available.  Close some applications before attempting to transmit again.");
    case mailresult::kTooManySessions: return QStringLiteral("Mail system busy.  Try to transmit later");
    default: return QStringLiteral("Unknown Mail System Failure");
  }
}

QString SendErrorText(int result, bool withAttachment) {
  switch (result) {
    case mailresult::kUserAbort: return QStringLiteral("User Requested Mail Cancel");
    case mailresult::kLoginFailure: return QStringLiteral("Not Logged In");
    case mailresult::kInsufficientMemory: return QStringLiteral("Not enough memory to send a message");
    case mailresult::kTooManyFiles:
    case mailresult::kAttachmentNotFound:
    case mailresult::kAttachmentOpenFailure: return QStringLiteral("Unable to attach file");
    case mailresult::kTooManyRecipients:
    case mailresult::kUnknownRecipient:
    case mailresult::kAmbiguousRecipient: return QStringLiteral("Unable to resolve address");
    case mailresult::kBadRecipientType:
      return withAttachment ? QStringLiteral("Unknown recipient type") : QStringLiteral("Unknown recipient type ");
    case mailresult::kTextTooLarge: return QStringLiteral("Too much Message Text");
    case mailresult::kTimedOut: return QStringLiteral("The mail program did not finish in time and was stopped");
    case mailresult::kAttachmentTooLarge:
      return QStringLiteral("Error log too big to mail (over %1kb)").arg(kMaxAttachmentBytes / 1000);
    default: return QStringLiteral("Undefined Failure");
  }
}

}  // namespace

void SendMail(IMailTransport& transport, const QString& subject, const QString& recipient,
              const QString& noteText, const QString& attachmentPath, StatusMessageQueue* queue,
              std::function<void()> finished) {
  Progress progress(queue);
  progress.Add(QStringLiteral("Initializing Mail Interface"));

  const bool found = transport.FindMailProgram();
  if (!found) {
    progress.AddError(QStringLiteral("Unable to find MAPI32 Library"));
    progress.AddError(QStringLiteral("Unable to find MAPISendMail"));
    progress.AddError(QStringLiteral("Unable to find MAPILogon"));
    progress.AddError(QStringLiteral("Unable to find MAPILogoff"));
  }
  progress.Add(QStringLiteral("Complete Logging in to the Mail System"));
  if (!found) {
    qCWarning(lcReport).noquote() << "Error report to" << recipient << "not sent: no mail program found";
    if (finished) finished();
    return;
  }

  if (transport.Logon(false) != mailresult::kSuccess) {
    // The mail system may ask the user now; whatever the answer, the send is
    // still tried and tells its own outcome.
    const int result = transport.Logon(true);
    if (result != mailresult::kSuccess) progress.AddError(LogonErrorText(result));
  }
  progress.Add(QStringLiteral("Logged In"));

  const bool withAttachment = !attachmentPath.isEmpty();
  MailMessage message;
  message.Recipient = recipient;
  if (withAttachment) {
    progress.Add(QStringLiteral("Sending File"));
    message.Subject = subject;
    message.NoteText = noteText;
    message.AttachmentPath = attachmentPath;
  } else {
    message.Subject = QStringLiteral("SendMail Test");
    message.NoteText = QStringLiteral("MessageBody only.");
  }
  transport.Send(message, [progress, &transport, withAttachment, recipient,
                           finished = std::move(finished)](int result) mutable {
    if (result == mailresult::kSuccess) {
      progress.Add(withAttachment ? QStringLiteral("File sent") : QStringLiteral("Mail Sent"));
      qCInfo(lcReport).noquote() << "Error report to" << recipient << "handed to the mail system";
    } else {
      progress.AddError(SendErrorText(result, withAttachment));
      qCWarning(lcReport).noquote() << "Error report to" << recipient << "not sent:"
                                    << SendErrorText(result, withAttachment);
    }
    progress.Add(QStringLiteral("Logging off the Mail System"));
    transport.Logoff();
    if (finished) finished();
  });
}
