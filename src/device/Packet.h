// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Framing of the unit's request/reply packets. The framing bytes alone tell a
// packet's length: there is no checksum, sequence number or length field.

#include <QByteArray>

#include <array>
#include <cstdint>

namespace packet {

constexpr std::uint8_t kSoh = 0x01;  // start of header, offset 0
constexpr std::uint8_t kStx = 0x02;  // start of text, offset 2 of a write or reply
constexpr std::uint8_t kEot = 0x04;  // end of transmission

constexpr int kReadRequestLength = 3;
constexpr int kWritePacketLength = 28;
constexpr int kPayloadLength = 24;
constexpr int kMalformedRequestLength = 4;  // what a request of unknown framing is sent with

constexpr int kReceiveAreaSize = 100;
constexpr int kReplyReadLength = 88;
constexpr int kReplyPayloadOffset = 3;
constexpr int kReplyPayloadChars = kReceiveAreaSize - kReplyPayloadOffset;  // 97

constexpr std::uint8_t kPipeToUnit = 0x02;
constexpr std::uint8_t kPipeFromUnit = 0x81;

// Packet numbers.
constexpr std::uint8_t kStatus = 0x01;
constexpr std::uint8_t kUnitSettings = 0x02;
constexpr std::uint8_t kFanBoot = 0x03;
constexpr std::uint8_t kDisplayLine1 = 0x06;
constexpr std::uint8_t kDisplayLine2 = 0x07;
constexpr std::uint8_t kShutdownNotice = 0x85;

// Callers build requests in a buffer of at least 28 bytes; only the first 28
// are ever read. Two spare bytes match what the write senders have always used.
using Request = std::array<std::uint8_t, 30>;
using Payload = std::array<std::uint8_t, kPayloadLength>;

Request MakeReadRequest(std::uint8_t number);
Request MakeWritePacket(std::uint8_t number, const Payload& payload);

// 3 for a read request, 28 for a write packet, kMalformedRequestLength otherwise.
int DecideRequestLength(const std::uint8_t* request);

// Only replies of exactly 3 or 28 bytes count as a completed exchange.
bool IsAcceptedReplyLength(std::uint32_t received);

// Receive-area bytes 3..99 as one byte per character, zero bytes included.
QByteArray MakeReplyPayload(const std::uint8_t* receiveArea);

// The number of the decoder a reply of `received` bytes goes to (1, 2, 3, 6 or
// 7), or 0 when the reply is to be dropped: wrong framing bytes, a number
// without decoder, or too few bytes for the payload every decoder reads (a
// 3-byte reply would otherwise decode as zeros, an evaporator at 0 degrees).
int ReplyDecoderNumber(const std::uint8_t* receiveArea, std::uint32_t received);

// Little helpers for payload decoders: payload byte i of the reply text.
inline std::uint8_t PayloadByte(const QByteArray& payload, int i) {
  return static_cast<std::uint8_t>(payload.at(i));
}

}  // namespace packet
