// Writes the starting corpus of fuzz_thumbnail_png: small PNG entries of each kind the
// cache meets, with the standard's keys (short, long and non-Latin-1 values).
#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_png_seeds FOLDER\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);
  const QImage::Format formats[] = {QImage::Format_RGB32, QImage::Format_ARGB32,
                                    QImage::Format_Indexed8, QImage::Format_Grayscale8};
  int n = 0;
  for (const QImage::Format format : formats)
    for (const int side : {1, 5, 24}) {
      QImage image(side, side + 1, QImage::Format_ARGB32);
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < side; ++x) image.setPixel(x, y, qRgba(x * 40, y * 30, (x ^ y) * 20, 255 - x * 9));
      image = image.convertToFormat(format);
      image.setText("Thumb::URI", side == 24 ? "file:///home/quelqu%27un/Mod%C3%A8les/un%20nom%20long%20de%20mod%C3%A8le.plm"
                                             : "file:///a.plm");
      image.setText("Thumb::MTime", "1796886013");
      image.setText("X-Plmlooker::Reason", QString::fromUtf8("Modèle endommagé"));
      if (!image.save(QStringLiteral("%1/seed%2.png").arg(folder).arg(n++), "PNG", side == 5 ? 0 : 80))
        return 1;
    }
  return 0;
}
