#include "ui/message_quote.h"

#include <cstdint>
#include <cstdio>

namespace sq71 {
namespace {

// The length of the well-formed UTF-8 sequence at text[at], 0 when there is
// none (a stray continuation byte, an overlong form, a surrogate, past
// U+10FFFF, cut short); *code is its code point.
std::size_t Utf8Sequence(std::string_view text, std::size_t at, uint32_t* code) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[at + i]); };
  const uint8_t lead = byte(0);
  std::size_t length = 0;
  uint32_t value = 0;
  uint32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1Fu, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0Fu, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07u, least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3Fu);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

// C1 controls act on some terminals; the bidirectional controls make the
// text read in another order than it was written.
bool ShownAsBytes(uint32_t code) {
  return (code >= 0x80 && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069) || code == 0x061C || code == 0x200E || code == 0x200F;
}

std::string Escaped(uint8_t byte) {
  switch (byte) {
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default: {
      char text[5];
      std::snprintf(text, sizeof text, "\\x%02x", byte);
      return text;
    }
  }
}

}  // namespace

std::string QuoteForMessage(std::string_view text, std::size_t max) {
  std::string quoted(1, '\'');
  quoted += EscapeForMessage(text, max);
  quoted += '\'';
  return quoted;
}

std::string EscapeForMessage(std::string_view text, std::size_t max) {
  std::string out;
  std::size_t shown = 0;  // characters of the text printed so far
  std::size_t at = 0;
  while (at < text.size()) {
    const uint8_t lead = static_cast<uint8_t>(text[at]);
    std::string piece;
    std::size_t width = 1;  // characters piece prints
    std::size_t used = 1;   // bytes of text it stands for
    uint32_t code = 0;
    if (lead >= 0x20 && lead < 0x7F) {
      piece.assign(1, static_cast<char>(lead));
    } else if (lead < 0x80) {
      piece = Escaped(lead);
      width = piece.size();
    } else if (std::size_t length = Utf8Sequence(text, at, &code);
               length != 0 && !ShownAsBytes(code)) {
      piece.assign(text.substr(at, length));
      used = length;
    } else {
      used = length != 0 ? length : 1;
      for (std::size_t i = 0; i < used; ++i) piece += Escaped(static_cast<uint8_t>(text[at + i]));
      width = piece.size();
    }
    if (shown + width > max) {
      out += "...";
      break;
    }
    out += piece;
    shown += width;
    at += used;
  }
  return out;
}

}  // namespace sq71
