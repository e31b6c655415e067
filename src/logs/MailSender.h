// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The error report by mail: the sender walks through finding the mail
// program, logging on, sending and logging off, and tells every step and
// every failure as a short text on the status-bar queue. The mail transport
// behind it is a seam; its results are the classic mail-interface codes, so
// that every mail system leads to the same texts.

#include <QString>

#include <functional>

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
// Outcomes the classic interface never had, each with a text of its own.
constexpr int kTimedOut = 100;            // the mail program gave no answer in time and was stopped
constexpr int kAttachmentTooLarge = 101;  // above kMaxAttachmentBytes; nothing was started
}  // namespace mailresult

// An error log this big is no report a mailbox takes (and would be held in
// memory three times over while it is encoded); it is refused.
constexpr qint64 kMaxAttachmentBytes = 10'000'000;

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
  // Hands the message on; `done` gets the mailresult code once, before Send
  // returns or later from the event loop. A transport that waits for its
  // mail program waits there, never on the caller's stack.
  virtual void Send(const MailMessage& message, std::function<void(int)> done) = 0;
  virtual void Logoff() = 0;
};

// Sends `noteText` with the file at attachmentPath attached. An empty path
// sends a test message without attachment instead. progress may be null.
// Returns once the message is handed on; the outcome's texts follow when the
// transport has it, then `finished` runs. progress must outlive the transport's
// answer (the window's queue outlives its transport).
void SendMail(IMailTransport& transport, const QString& subject, const QString& recipient,
              const QString& noteText, const QString& attachmentPath, StatusMessageQueue* progress,
              std::function<void()> finished = {});
