// Writes the starting corpus of the PCX fuzz target: small pictures of every layout the
// reader knows, run-length encoded and stored, with and without colours of their own.
#include "tests/imaging/PcxFixtures.h"

#include <fstream>
#include <string>
#include <sys/stat.h>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  mkdir(dir.c_str(), 0755);
  struct Layout {
    int bits, planes, colours;
  };
  const Layout layouts[] = {{1, 1, 2}, {1, 4, 16}, {4, 1, 16}, {8, 1, 256}, {8, 3, 0}};
  int n = 0;
  for (const Layout &l : layouts) {
    for (int encoding : {1, 0}) {
      for (bool ownColours : {true, false}) {
        fixtures::Pcx pcx;
        pcx.encoding = encoding;
        pcx.bits = l.bits;
        pcx.planes = l.planes;
        pcx.width = 11 + n % 3;
        pcx.height = 3 + n % 2;
        pcx.xmin = n;
        pcx.pixels = fixtures::PcxPixels(pcx.width, pcx.height, l.colours, uint32_t(n));
        std::vector<QRgb> colours;
        for (int i = 0; i < (l.colours ? l.colours : 0); ++i)
          colours.push_back(qRgb(i * 7, 255 - i, i * 3));
        if (ownColours && l.colours == 256) pcx.trailingColors = colours;
        if (ownColours && l.colours && l.colours <= 16) pcx.headerColors = colours;
        const std::vector<uint8_t> bytes = fixtures::Encode(pcx);
        std::ofstream(dir + "/seed" + std::to_string(n++) + ".pcx", std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
      }
    }
  }
  return 0;
}
