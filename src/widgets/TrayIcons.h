// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The pictures of the notification-area icon. Blinking alternates between the
// two, so the icon shows and disappears in turn.

#include <QImage>

#include <vector>

// 16 x 16 with transparency. Picture 0: seven navy squares of 4 x 4 pixels on a
// 3 x 3 grid with a 5-pixel pitch from (1, 1): top row left and right, middle
// row left and centre, bottom row all three. Picture 1: fully transparent.
std::vector<QImage> ImageList1();
