#include <cstdio>

int main() {
  std::fprintf(stderr, "vantrel-sim: not built yet\n");
  return 1;
}
