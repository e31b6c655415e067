// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/TrayIcons.h"

#include <QColor>

namespace {

constexpr int kSide = 16;
constexpr int kSquare = 4;
constexpr int kPitch = 5;
constexpr int kOrigin = 1;

QImage BlankPicture() {
  QImage image(kSide, kSide, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  return image;
}

QImage SquaresPicture() {
  // Rows top to bottom, columns left to right.
  static constexpr bool kFilled[3][3] = {
      {true, false, true},
      {true, true, false},
      {true, true, true},
  };
  QImage image = BlankPicture();
  const QRgb navy = qRgb(0, 0, 128);
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      if (!kFilled[row][col]) continue;
      const int left = kOrigin + col * kPitch;
      const int top = kOrigin + row * kPitch;
      for (int y = top; y < top + kSquare; ++y)
        for (int x = left; x < left + kSquare; ++x) image.setPixel(x, y, navy);
    }
  }
  return image;
}

}  // namespace

std::vector<QImage> ImageList1() { return {SquaresPicture(), BlankPicture()}; }
