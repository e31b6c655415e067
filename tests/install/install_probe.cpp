// SPDX-License-Identifier: GPL-3.0-or-later
// Looks at an installed tree the way the installed program does. The install
// tests copy it next to the installed executables and run it there.
//
//   install_probe files          prints "<name>=<path the program would use>"
//                                for each read-only program file
//   install_probe icon SIZE PNG  checks that the picture is SIZE pixels square
//                                and shows the program's notification-area
//                                picture

#include "core/ProgramFiles.h"
#include "widgets/TrayIcons.h"

#include <QCoreApplication>
#include <QImage>
#include <QRect>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

namespace {

int PrintProgramFiles() {
  QTextStream out(stdout);
  for (const char* name : {"Alarm.wav", "Tessalinique.html", "wdreg", "70-vornalith-unit.rules"})
    out << name << '=' << programfiles::Find(QString::fromLatin1(name)) << '\n';
  return 0;
}

bool IsNavy(QRgb p) {
  return qAlpha(p) == 255 && qRed(p) == 0 && qGreen(p) == 0 && qBlue(p) == 128;
}

// Bounds of the drawn (not fully transparent) pixels.
QRect DrawnPart(const QImage& image) {
  QRect drawn;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(image.pixel(x, y)) != 0) drawn |= QRect(x, y, 1, 1);
  return drawn;
}

// The drawn part of the picture stands for the drawn part of the 16 x 16 tray
// picture, at whatever scale and margin. Every tray pixel in it is looked up
// at the centre of the area it covers: navy where the tray picture is navy,
// fully transparent elsewhere. Edges may be placed to the nearest pixel, so
// only the centres are compared.
bool MatchesTrayPicture(int size, const QString& file, QTextStream& err) {
  const QImage reference = ImageList1().at(0).convertToFormat(QImage::Format_ARGB32);
  QImage image(file);
  if (image.isNull()) {
    err << file << ": not a readable picture\n";
    return false;
  }
  if (image.width() != size || image.height() != size) {
    err << file << ": " << image.width() << 'x' << image.height() << ", wanted " << size << 'x'
        << size << '\n';
    return false;
  }
  image = image.convertToFormat(QImage::Format_ARGB32);
  const QRect want = DrawnPart(reference);
  const QRect got = DrawnPart(image);
  if (got.isEmpty()) {
    err << file << ": nothing drawn\n";
    return false;
  }
  // The margin around the picture stays even, give or take a pixel.
  const int marginLeft = got.left(), marginRight = size - 1 - got.right();
  const int marginTop = got.top(), marginBottom = size - 1 - got.bottom();
  if (std::abs(marginLeft - marginRight) > 1 || std::abs(marginTop - marginBottom) > 1) {
    err << file << ": picture off centre (margins " << marginLeft << ' ' << marginRight << ' '
        << marginTop << ' ' << marginBottom << ")\n";
    return false;
  }
  const double sx = double(got.width()) / want.width(), sy = double(got.height()) / want.height();
  bool ok = true;
  for (int y = want.top(); y <= want.bottom(); ++y) {
    for (int x = want.left(); x <= want.right(); ++x) {
      const int px = got.left() + static_cast<int>((x - want.left() + 0.5) * sx);
      const int py = got.top() + static_cast<int>((y - want.top() + 0.5) * sy);
      const QRgb pixel = image.pixel(px, py);
      const bool wantNavy = IsNavy(reference.pixel(x, y));
      if (wantNavy ? !IsNavy(pixel) : qAlpha(pixel) != 0) {
        err << file << ": at tray pixel (" << x << ',' << y << ") picture pixel (" << px << ','
            << py << ") is #" << Qt::hex << pixel << Qt::dec << ", wanted "
            << (wantNavy ? "navy" : "transparent") << '\n';
        ok = false;
      }
    }
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() == 2 && args[1] == QLatin1String("files")) return PrintProgramFiles();
  if (args.size() == 4 && args[1] == QLatin1String("icon")) {
    QTextStream err(stderr);
    return MatchesTrayPicture(args[2].toInt(), args[3], err) ? 0 : 1;
  }
  std::fputs("usage: install_probe files | icon SIZE PNG\n", stderr);
  return 2;
}
