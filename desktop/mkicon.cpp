// mkicon: renders the program's scalable icon as a PNG of the given size, for the icon
// theme folders of the install (desktops that want fixed sizes read those).
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc != 4) {
    std::fputs("usage: mkicon SOURCE.svg SIZE OUT.png\n", stderr);
    return 2;
  }
  const int size = std::atoi(argv[2]);
  QImageReader reader(QString::fromLocal8Bit(argv[1]));
  reader.setScaledSize(QSize(size, size));
  const QImage image = reader.read();
  if (image.isNull()) {
    std::fprintf(stderr, "mkicon: %s: %s\n", argv[1], qPrintable(reader.errorString()));
    return 1;
  }
  if (!image.convertToFormat(QImage::Format_ARGB32).save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "mkicon: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
