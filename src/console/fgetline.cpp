#include "console/fgetline.h"

std::unique_ptr<char[]> fgetLine(int maxLength, FILE* file, bool* lineEnded) {
  if (lineEnded != nullptr) *lineEnded = true;
  if (file == nullptr || maxLength <= 0) return nullptr;
  std::unique_ptr<char[]> line(new char[static_cast<size_t>(maxLength) + 1]);
  int stored = 0;
  int c = 0;
  for (;;) {
    c = std::fgetc(file);
    // EOF is also what a failed read returns; both end the line, so a file
    // that cannot be read yields nothing instead of empty lines forever.
    if (c == EOF || c == '\n') break;
    if (stored == maxLength) {
      std::ungetc(c, file);
      if (lineEnded != nullptr) *lineEnded = false;
      break;
    }
    line[stored++] = static_cast<char>(c);
  }
  line[stored] = '\0';
  if (stored == 0 && c == EOF) return nullptr;
  return line;
}
