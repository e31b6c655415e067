// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/FrontPanel.h"

#include "monitor/Conversions.h"

namespace frontpanel {

namespace {

// Windows-1252 bytes 0x80..0x9F; 0 where the code page leaves a byte unused.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char EncodeOne(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i)
    if (kHighControls[i] != 0 && kHighControls[i] == c) return static_cast<char>(0x80 + i);
  return '?';
}

// The unit shows its own degree glyph at these codes, which on screen read as
// '²' and 'ß'.
constexpr char16_t kDegreeForW = 0x00B2;
constexpr char16_t kDegreeForE = 0x00DF;

}  // namespace

QByteArray ToWindows1252(const QString& text) {
  QByteArray out;
  out.reserve(text.size());
  for (QChar c : text) out.append(EncodeOne(c.unicode()));
  return out;
}

packet::Request MakeLinePacket(std::uint8_t number, const QString& text) {
  const QByteArray bytes = ToWindows1252(text.leftJustified(kPaddedWidth, QLatin1Char(' ')));
  packet::Payload payload;
  payload.fill(0x20);
  for (int i = 0; i < kLineWidth; ++i) payload[i] = static_cast<std::uint8_t>(bytes.at(i));
  return packet::MakeWritePacket(number, payload);
}

QString Line2Piece(int item, const Line2Inputs& in) {
  if (item >= 0 && item <= 4) {
    const int celsius = in.temperatures[static_cast<std::size_t>(item)];
    QString piece = QString::number(in.celsius ? celsius : CelsiusToFahrenheit(celsius));
    if (in.displayType == 'W') piece += QChar(kDegreeForW);
    if (in.displayType == 'E') piece += QChar(kDegreeForE);
    return piece;
  }
  switch (item) {
    case 5: return QString::number(in.cpuSpeedMHz) + QStringLiteral("MHz");
    case 6: return QString::number(in.cpuLoadPercent) + QStringLiteral("%");
    case 7: return QStringLiteral("    ");
    default: return QString();
  }
}

QString ComposeLine2(int param1, int param2, int param3, const Line2Inputs& in) {
  return Line2Piece(param1, in) + QLatin1Char(' ') + Line2Piece(param2, in) + QLatin1Char(' ') +
         Line2Piece(param3, in);
}

}  // namespace frontpanel
