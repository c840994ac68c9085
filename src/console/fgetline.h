#ifndef LINKSIM_CONSOLE_FGETLINE_H_
#define LINKSIM_CONSOLE_FGETLINE_H_

#include <cstdio>
#include <memory>

/// Reads one line of `file` without its newline, at most `maxLength`
/// characters. A longer line comes back in pieces: the character that did not
/// fit begins the next line, so nothing is dropped. A carriage return, a NUL
/// or any other byte is an ordinary character. A failed read ends the line
/// as the end of the file does. Returns null when `file` is null,
/// `maxLength` is not positive, or nothing was read before the end.
std::unique_ptr<char[]> fgetLine(int maxLength, FILE* file);

#endif  // LINKSIM_CONSOLE_FGETLINE_H_
