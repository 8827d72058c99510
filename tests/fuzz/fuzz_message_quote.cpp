// The quoting of outside text for messages, over any bytes and limit: one
// quoted line without control characters (C0, DEL, C1) or reordering marks,
// at most the limit's characters of text plus "...", and printable ASCII
// within the limit unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ui/message_quote.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string quoted = sq71::QuoteForMessage(text, data[0]) + "\xff\xff";
  bool plain = text.size() <= data[0], fine = quoted.front() == '\'';
  for (const char c : text) plain = plain && c >= 0x20 && c < 0x7F;
  std::size_t characters = 0;
  for (std::size_t i = 0; i + 2 < quoted.size(); ++i) {
    const auto b = [&](std::size_t k) { return static_cast<uint8_t>(quoted[i + k]); };
    characters += (b(0) & 0xC0) != 0x80;
    fine = fine && b(0) >= 0x20 && b(0) != 0x7F && !(b(0) == 0xC2 && b(1) >= 0x80 && b(1) <= 0x9F);
    fine = fine && !(b(0) == 0xE2 && b(1) == 0x80 && b(2) >= 0xAA && b(2) <= 0xAE);
    fine = fine && !(b(0) == 0xE2 && b(1) == 0x81 && b(2) >= 0xA6 && b(2) <= 0xA9);
  }
  fine = fine && quoted[quoted.size() - 3] == '\'' && characters <= data[0] + 2u + 3u;
  if (!fine || (plain && quoted != "'" + text + "'\xff\xff")) std::abort();
  return 0;
}
