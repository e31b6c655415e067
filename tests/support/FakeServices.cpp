// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeServices.h"

#include <algorithm>
#include <cstring>

Bytes MakeReplyFrame(std::uint8_t number, const packet::Payload& payload) {
  Bytes b(packet::kWritePacketLength, 0);
  b[0] = packet::kSoh;
  b[1] = number;
  b[2] = packet::kStx;
  std::copy(payload.begin(), payload.end(), b.begin() + 3);
  b[27] = packet::kEot;
  return b;
}

bool FakeLink::InstallDriverIfMissing() {
  ++installCalls;
  return true;
}

bool FakeLink::OpenUnit() {
  ++openCalls;
  return openResult;
}

std::uint32_t FakeLink::TransferPacket(const std::uint8_t* request, std::uint32_t length,
                                       std::uint8_t* reply, std::uint32_t replyLength) {
  Bytes req(request, request + length);
  requests.push_back(req);
  replyLengths.push_back(replyLength);
  Answer a;
  if (respond) {
    a = respond(req);
  } else {
    a.bytes = MakeReplyFrame(req.size() > 1 ? req[1] : 0);
    a.result = static_cast<std::uint32_t>(a.bytes.size());
  }
  if (!a.bytes.empty()) std::memcpy(reply, a.bytes.data(), std::min<std::size_t>(a.bytes.size(), replyLength));
  return a.result;
}

std::uint32_t FakeLink::ResetLinkPipe(std::uint8_t pipe) {
  resets.push_back(pipe);
  return 0;
}

void FakeLink::CloseUnit() {
  ++closeCalls;
  if (onClose) onClose();
}

std::vector<Bytes> FakeLink::RequestsNumbered(std::uint8_t number) const {
  std::vector<Bytes> out;
  for (const auto& r : requests)
    if (r.size() > 1 && r[1] == number) out.push_back(r);
  return out;
}

void FakeMessageBoxes::ShowMessage(const QString& text) { ShowMessageWithDetail(text, QString()); }

void FakeMessageBoxes::ShowReport(QWidget*, const QString& text) {
  shown << text;
  details << QString();
  reports << text;
}

void FakeMessageBoxes::ShowMessageWithDetail(const QString& text, const QString& detail) {
  shown << text;
  details << detail;
  if (onShow) onShow(text);
}

bool FakeMessageBoxes::AskOkCancel(const QString& text, const QString& caption) {
  asked << text;
  askCaptions << caption;
  return answerOk;
}

int FakeMessageBoxes::ExecModal(QDialog& dialog) {
  ++execCount;
  if (onExec) return onExec(dialog);
  return QDialog::Rejected;
}
