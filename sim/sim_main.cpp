#include <cstdio>
int main() {
  std::fputs("vorsal-modem-sim: not built yet\n", stderr);
  return 1;
}
