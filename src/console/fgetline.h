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
///
/// When `lineEnded` is not null it tells a caller that puts the pieces back
/// together whether the line ended with what was returned (its newline was
/// consumed, or the file ended) or goes on in the next piece: a full piece
/// alone cannot say. It is true whenever null is returned.
std::unique_ptr<char[]> fgetLine(int maxLength, FILE* file,
                                 bool* lineEnded = nullptr);

#endif  // LINKSIM_CONSOLE_FGETLINE_H_
