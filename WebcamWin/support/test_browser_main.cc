// Stands in for the browser in tests: appends its one argument (the address
// the support tool opens) as a line to the file named by
// SUPPORT_TEST_BROWSER_LOG.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const char* log = std::getenv("SUPPORT_TEST_BROWSER_LOG");
  if (!log || argc < 2) return 2;
  FILE* f = std::fopen(log, "ab");
  if (!f) return 3;
  std::fprintf(f, "%s\n", argv[1]);
  std::fclose(f);
  return 0;
}
