// The quoting of outside text for messages, over any bytes and any limit:
// the result is one quoted line with no control character (C0, DEL, C1) and
// no reordering mark, at most the limit's characters of text plus "...", and
// printable ASCII within the limit comes through unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ui/message_quote.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t max = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string quoted = sq71::QuoteForMessage(text, max);
  if (quoted.size() < 2 || quoted.front() != '\'' || quoted.back() != '\'') std::abort();
  std::size_t characters = 0;
  for (std::size_t i = 0; i < quoted.size(); ++i) {
    const auto byte = static_cast<uint8_t>(quoted[i]);
    if (byte < 0x20 || byte == 0x7F) std::abort();
    if ((byte & 0xC0) != 0x80) ++characters;
    const auto next = i + 1 < quoted.size() ? static_cast<uint8_t>(quoted[i + 1]) : 0;
    const auto third = i + 2 < quoted.size() ? static_cast<uint8_t>(quoted[i + 2]) : 0;
    if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) std::abort();
    if (byte == 0xE2 && next == 0x80 && third >= 0xAA && third <= 0xAE) std::abort();
    if (byte == 0xE2 && next == 0x81 && third >= 0xA6 && third <= 0xA9) std::abort();
  }
  if (characters > max + 2 + 3) std::abort();
  bool plain = text.size() <= max;
  for (const char c : text) plain = plain && c >= 0x20 && c < 0x7F;
  if (plain && quoted != "'" + std::string(text) + "'") std::abort();
  return 0;
}
