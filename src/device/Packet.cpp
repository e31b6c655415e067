// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/Packet.h"

namespace packet {

Request MakeReadRequest(std::uint8_t number) {
  Request r{};
  r[0] = kSoh;
  r[1] = number;
  r[2] = kEot;
  return r;
}

Request MakeWritePacket(std::uint8_t number, const Payload& payload) {
  Request r{};
  r[0] = kSoh;
  r[1] = number;
  r[2] = kStx;
  for (int i = 0; i < kPayloadLength; ++i) r[3 + i] = payload[i];
  r[27] = kEot;
  return r;
}

int DecideRequestLength(const std::uint8_t* request) {
  // The read test comes first; write packets carry 0x02 at offset 2, so they
  // never match it.
  if (request[0] == kSoh && request[2] == kEot) return kReadRequestLength;
  if (request[0] == kSoh && request[27] == kEot) return kWritePacketLength;
  return kMalformedRequestLength;
}

bool IsAcceptedReplyLength(std::uint32_t received) {
  return received == static_cast<std::uint32_t>(kReadRequestLength) ||
         received == static_cast<std::uint32_t>(kWritePacketLength);
}

QByteArray MakeReplyPayload(const std::uint8_t* receiveArea) {
  return QByteArray(reinterpret_cast<const char*>(receiveArea + kReplyPayloadOffset),
                    kReplyPayloadChars);
}

int ReplyDecoderNumber(const std::uint8_t* receiveArea, std::uint32_t received) {
  if (received < static_cast<std::uint32_t>(kReplyPayloadOffset + kPayloadLength)) return 0;
  if (receiveArea[0] != kSoh || receiveArea[2] != kStx) return 0;
  switch (receiveArea[1]) {
    case kStatus:
    case kUnitSettings:
    case kFanBoot:
    case kDisplayLine1:
    case kDisplayLine2:
      return receiveArea[1];
    default:
      return 0;
  }
}

}  // namespace packet
