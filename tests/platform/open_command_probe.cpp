// Looks up the open command of a file and starts its program, as the viewer does at its
// start and for "Installer", in a process of its own: the desktop's associations are read
// once a process, from the XDG folders its environment names.
#include "platform/OpenCommand.h"

#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  std::printf("command: %s\n", plm::OpenCommandFor(argv[1]).c_str());
  std::printf("started: %d\n", plm::OpenWithRegisteredApplication(argv[1]) ? 1 : 0);
  return 0;
}
