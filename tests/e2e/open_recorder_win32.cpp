// Stands in for the browser in the end-to-end tests: the test's .html
// association runs it with a record file and the document to open, and it
// writes the document's path into the record file.
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::FILE* record = std::fopen(argv[1], "wb");
  if (record == nullptr) return 1;
  std::fputs(argv[2], record);
  return std::fclose(record) == 0 ? 0 : 1;
}
