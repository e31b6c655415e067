// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The error report by mail: the sender walks through finding the mail
// program, logging on, sending and logging off, and tells every step and
// every failure as a short text on the status-bar queue. The mail transport
// behind it is a seam; its results are the classic mail-interface codes, so
// that every mail system leads to the same texts.

#include <QString>

class StatusMessageQueue;

// The maker's error-report mailbox, unless the settings' "Report address"
// names another.
inline const QString kErrorReportAddress = QStringLiteral("errorreport@vornalith.example");
inline const QString kErrorReportSubject = QStringLiteral("Error.log");
inline const QString kErrorReportText = QStringLiteral("This is an autosent error report");

namespace mailresult {
constexpr int kSuccess = 0;
constexpr int kUserAbort = 1;
constexpr int kFailure = 2;
constexpr int kLoginFailure = 3;
constexpr int kInsufficientMemory = 5;
constexpr int kTooManySessions = 8;
constexpr int kTooManyFiles = 9;
constexpr int kTooManyRecipients = 10;
constexpr int kAttachmentNotFound = 11;
constexpr int kAttachmentOpenFailure = 12;
constexpr int kUnknownRecipient = 14;
constexpr int kBadRecipientType = 15;
constexpr int kTextTooLarge = 18;
constexpr int kAmbiguousRecipient = 21;
}  // namespace mailresult

struct MailMessage {
  QString Subject;
  QString Recipient;       // a mail address
  QString NoteText;
  QString AttachmentPath;  // empty: no attachment
};

class IMailTransport {
 public:
  virtual ~IMailTransport() = default;
  // Whether the mail system is there at all; false: nothing can be sent.
  virtual bool FindMailProgram() = 0;
  // A mailresult code. With mayAskUser the mail system may show its own
  // logon dialog.
  virtual int Logon(bool mayAskUser) = 0;
  // A mailresult code; blocks until the mail system has taken the message
  // or given up.
  virtual int Send(const MailMessage& message) = 0;
  virtual void Logoff() = 0;
};

// Sends `noteText` with the file at attachmentPath attached. An empty path
// sends a test message without attachment instead. progress may be null.
void SendMail(IMailTransport& transport, const QString& subject, const QString& recipient,
              const QString& noteText, const QString& attachmentPath, StatusMessageQueue* progress);
