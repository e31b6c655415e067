// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/UnitExchange.h"

#include "device/UnitLink.h"

#include <cstring>

UnitExchange::UnitExchange(Context context, QObject* parent) : QObject(parent), context_(std::move(context)) {}

void UnitExchange::SetDecoder(int number, Decoder decoder) {
  if (number >= 0 && number < static_cast<int>(decoders_.size()))
    decoders_[static_cast<std::size_t>(number)] = std::move(decoder);
}

void UnitExchange::ExchangePacket(const std::uint8_t* request) {
  if (!started_) return;
  Guarded(context_.report, [&] {
    const int length = packet::DecideRequestLength(request);
    if (length == packet::kMalformedRequestLength) {
      context_.report(QStringLiteral("Error in size : ") + QString::number(length));
    }

    // Whatever the unit does not send reads as zero rather than as the
    // previous reply's leftovers.
    std::memset(receiveArea_, 0, sizeof receiveArea_);
    const std::uint32_t received = context_.link->TransferPacket(
        request, static_cast<std::uint32_t>(length), receiveArea_, packet::kReplyReadLength);

    if (!packet::IsAcceptedReplyLength(received)) {
      if (context_.notice) context_.notice(kLinkLostText);
      NoteLinkState(false);
      context_.link->ResetLinkPipe(packet::kPipeToUnit);
      context_.link->ResetLinkPipe(packet::kPipeFromUnit);
      return;
    }

    // The payload is copied out before any decoder runs: a decoder's report
    // lets timers run further exchanges through the same receive area.
    const QByteArray payload = packet::MakeReplyPayload(receiveArea_);
    NoteLinkState(true);
    const int number = packet::ReplyDecoderNumber(receiveArea_, received);
    if (number >= 0 && number < static_cast<int>(decoders_.size())) {
      if (const Decoder& decode = decoders_[static_cast<std::size_t>(number)]) decode(payload);
    }
  });
}

void UnitExchange::NoteLinkState(bool up) {
  if (up == linkUp_) return;
  linkUp_ = up;
  emit linkStateChanged(up);
}
