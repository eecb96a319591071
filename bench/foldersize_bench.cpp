// Measures one folder the way the progress gauge does and prints the byte
// count, so a timing tool can set it against du on the same tree.
#include <cstdio>
#include <string>

#include "funcoes/funcoes.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  std::printf("%lld\n", static_cast<long long>(FolderSize(platform::FromUtf8(argv[1]), true)));
  return 0;
}
