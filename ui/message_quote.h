// Names, paths and bytes from outside as a message may show them: quoted,
// on one line, with nothing a terminal would act on, and of bounded length.
#ifndef SQ71_UI_MESSAGE_QUOTE_H
#define SQ71_UI_MESSAGE_QUOTE_H

#include <cstddef>
#include <string>
#include <string_view>

namespace sq71 {

// The text between single quotes. Control characters (C0, DEL, C1) are shown
// as \n, \r, \t or \xNN, as are bytes that are not well-formed UTF-8 and the
// characters that reorder text on screen (bidirectional overrides and
// isolates); other UTF-8 text stays readable. At most max characters of the
// text are shown, an escape counting as the characters it prints; a longer
// text ends in "...".
std::string QuoteForMessage(std::string_view text, std::size_t max = 200);

// The same without the quotes, for a message made elsewhere from outside
// bytes (a parser's complaint that echoes an argument).
std::string EscapeForMessage(std::string_view text, std::size_t max = 200);

}  // namespace sq71

#endif
