#include "sim/trace_reader.h"

#include <algorithm>
#include <string_view>

#include "log/regular_file.h"
#include "ui/message_quote.h"

#include "usb/driver.h"

namespace sq71::sim {
namespace {

// Calls a trace may hold; anything else is junk.
const char* const kCalls[] = {
    "FT_ListDevices",
    "Where",
    "FT_Open",
    "FT_Close",
    "FT_Read",
    "FT_Write",
    "FT_SetBaudRate",
    "FT_SetDataCharacteristics",
    "FT_SetFlowControl",
    "FT_SetDtr",
    "FT_ClrDtr",
    "FT_Purge",
    "FT_SetTimeouts",
    "FT_EE_Read",
    "FT_SetLatencyTimer",
    "FT_GetLatencyTimer",
    "FT_GetQueueStatus",
};
// The simulator's and the tracer's notes: free text, nothing to replay.
const char* const kNotes[] = {"TRACE", "BUS", "METER", "UNPLUGGED", "ERROR", "REPLAY"};

constexpr std::size_t kMaxText = 4096;

// "WHAT 'word'THEN", the word cut short: one line, whatever junk it holds.
std::string Said(const char* what, const std::string& word, const char* then = "") {
  std::string text = what;
  text += '\'';
  text.append(word, 0, 32);
  text += '\'';
  text += then;
  return text;
}

bool OneOf(const std::string& word, const char* const* list, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (word == list[i]) return true;
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decimal, or 0x and 1 to 8 hex digits; at most 32 bits.
bool ParseNumber(const std::string& word, uint32_t* value) {
  uint64_t v = 0;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    if (word.size() > 10) return false;
    for (std::size_t i = 2; i < word.size(); ++i) {
      const int d = HexDigit(word[i]);
      if (d < 0) return false;
      v = v * 16 + static_cast<unsigned>(d);
    }
  } else {
    if (word.empty() || word.size() > 10) return false;
    for (const char c : word) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<uint32_t>(v);
  return true;
}

// Splits a line at blanks; a token that starts with a quote (or a key=
// followed by one) runs to the closing quote, with \" \\ \xNN inside, and is
// kept unquoted with *quoted set.
struct Token {
  std::string key;  // before '=', or empty
  std::string value;
  bool quoted = false;
};

bool Tokenize(const std::string& line, std::size_t from, std::vector<Token>* tokens,
              std::string* error) {
  std::size_t i = from;
  while (i < line.size()) {
    if (line[i] == ' ') {
      ++i;
      continue;
    }
    Token token;
    std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '=' && line[i] != '"') ++i;
    if (i < line.size() && line[i] == '=') {
      token.key = line.substr(start, i - start);
      if (token.key.empty()) return *error = "'=' without a name", false;
      start = ++i;
    }
    if (i < line.size() && line[i] == '"' && i == start) {
      token.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\') {
          if (i >= line.size()) break;
          const char e = line[i++];
          if (e == '"' || e == '\\') {
            token.value += e;
          } else if (e == 'x' && i + 1 < line.size() && HexDigit(line[i]) >= 0 &&
                     HexDigit(line[i + 1]) >= 0) {
            token.value += static_cast<char>(HexDigit(line[i]) * 16 + HexDigit(line[i + 1]));
            i += 2;
          } else {
            return *error = "bad escape in a quoted text", false;
          }
        } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
          return *error = "a control or non-ASCII byte in a quoted text", false;
        } else {
          token.value += c;
        }
        if (token.value.size() > kMaxText) return *error = "a quoted text is too long", false;
      }
      if (!closed) return *error = "a quoted text is not closed", false;
      if (i < line.size() && line[i] != ' ') return *error = "junk after a quoted text", false;
    } else {
      while (i < line.size() && line[i] != ' ') {
        if (line[i] == '"' || line[i] == '=') return *error = "a stray '\"' or '='", false;
        ++i;
      }
      token.value = line.substr(start, i - start);
      if (token.value.size() > kMaxText) return *error = "a word is too long", false;
    }
    if (tokens->size() == 2 * kMaxTraceKeys) {
      return *error = "more than " + std::to_string(kMaxTraceKeys) + " values on a line", false;
    }
    tokens->push_back(std::move(token));
  }
  return true;
}

template <typename Value>
void Set(std::vector<std::pair<std::string, Value>>* fields, const std::string& key,
         const Value& value) {
  for (auto& field : *fields) {
    if (field.first == key) {
      field.second = value;
      return;
    }
  }
  fields->emplace_back(key, value);
}

// The blank-separated words of line from `from` on, read one at a time.
bool NextWord(const std::string& line, std::size_t* at, std::string* word) {
  while (*at < line.size() && line[*at] == ' ') ++*at;
  if (*at >= line.size()) return false;
  const std::size_t start = *at;
  while (*at < line.size() && line[*at] != ' ') ++*at;
  *word = line.substr(start, *at - start);
  return true;
}

// A WRITE or READ line's hex bytes, from `at` on: read straight into a
// vector of the size the line can hold, never through a word list.
bool HexBytes(const std::string& line, std::size_t at, std::vector<uint8_t>* bytes,
              std::string* error) {
  bytes->reserve((line.size() - std::min(at, line.size())) / 3 + 1);
  std::string word;
  while (NextWord(line, &at, &word)) {
    if (word.size() != 2 || HexDigit(word[0]) < 0 || HexDigit(word[1]) < 0) {
      return *error = Said("bad hex byte ", word), false;
    }
    bytes->push_back(static_cast<uint8_t>(HexDigit(word[0]) * 16 + HexDigit(word[1])));
  }
  return true;
}

// Sets a call's fields from its tokens after the name.
bool ParseCall(const std::vector<Token>& tokens, TracedCall* call, std::string* error) {
  std::size_t t = 1;
  int positional = 0;
  bool arrow = false;
  for (; t < tokens.size(); ++t) {
    const Token& token = tokens[t];
    if (token.key.empty() && !token.quoted && token.value == "->") {
      arrow = true;
      ++t;
      break;
    }
    uint32_t value = 0;
    if (token.quoted || !ParseNumber(token.value, &value)) {
      return *error = Said("bad argument ", token.value), false;
    }
    Set(&call->numbers, token.key.empty() ? std::to_string(++positional) : token.key, value);
  }
  if (!arrow) return *error = "no '->' before the result", false;
  if (call->name == "Where") {
    if (t + 1 != tokens.size() || !tokens[t].quoted || !tokens[t].key.empty()) {
      return *error = "Where answers one quoted text", false;
    }
    Set(&call->texts, std::string("where"), tokens[t].value);
    return true;
  }
  if (t >= tokens.size() || !tokens[t].key.empty() || tokens[t].quoted ||
      !ParseNumber(tokens[t].value, &call->status)) {
    return *error = "no status after '->'", false;
  }
  call->has_status = true;
  for (++t; t < tokens.size(); ++t) {
    const Token& token = tokens[t];
    if (token.key.empty()) return *error = Said("", token.value, " has no name"), false;
    const char first = token.value.empty() ? '\0' : token.value[0];
    uint32_t value = 0;
    if (token.quoted || !(first >= '0' && first <= '9')) {
      Set(&call->texts, token.key, token.value);
    } else if (ParseNumber(token.value, &value)) {
      Set(&call->numbers, token.key, value);
    } else {
      return *error = Said("bad number ", token.value), false;
    }
  }
  // What the replay cannot do without.
  // (A call the driver refused on its handle may say no more than that.)
  const char* needs = nullptr;
  if (call->name == "FT_Open") {
    if (!call->Has("index")) needs = "index=";
  } else if (call->name == "FT_Write" && call->status == FT_OK) {
    if (!call->Has("count")) needs = "count=";
  } else if (call->name == "FT_Read" && call->status == FT_OK) {
    if (!call->Has("wanted")) needs = "wanted=";
  }
  if (call->name != "FT_ListDevices" && call->name != "FT_Open" && !call->Has("handle")) {
    needs = "handle=";
  }
  if (needs != nullptr) return *error = call->name + " without " + needs, false;
  // Kept at their exact size: a line's values take a bounded multiple of it.
  call->numbers.shrink_to_fit();
  call->texts.shrink_to_fit();
  return true;
}

}  // namespace

bool TracedCall::Has(const std::string& key) const {
  for (const auto& field : numbers) {
    if (field.first == key) return true;
  }
  return false;
}

bool TracedCall::HasText(const std::string& key) const {
  for (const auto& field : texts) {
    if (field.first == key) return true;
  }
  return false;
}

uint32_t TracedCall::Number(const std::string& key, uint32_t otherwise) const {
  for (const auto& field : numbers) {
    if (field.first == key) return field.second;
  }
  return otherwise;
}

std::string TracedCall::Text(const std::string& key) const {
  for (const auto& field : texts) {
    if (field.first == key) return field.second;
  }
  return std::string();
}

bool ParseTrace(const std::string& text, std::vector<TracedCall>* calls, std::string* error,
                std::string* backend) {
  calls->clear();
  // Room for every line that can be a call, taken once: a vector that
  // doubles as it goes would hold up to three times what it keeps.
  std::size_t room = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = std::string_view(text).substr(at, end - at);
    const std::size_t name = line.find_first_not_of("0123456789 ");
    if (name != std::string_view::npos && line.find(" -> ") != std::string_view::npos &&
        (line.compare(name, 3, "FT_") == 0 || line.compare(name, 5, "Where") == 0)) {
      ++room;
    }
    at = end + 1;
  }
  calls->reserve(room);
  std::size_t at = 0;
  int number = 0;
  int64_t last_micros = -1;
  // A WRITE or READ line belongs to the call just before it.
  bool bytes_may_follow = false;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto fail = [&](const std::string& why) {
      *error = "line " + std::to_string(number) + ": " + why;
      calls->clear();
      return false;
    };
    if (line.empty() || line[0] == '#') continue;

    // The time stamp, where the line has one.
    std::size_t from = 0;
    int64_t micros = -1;
    if (line[0] >= '0' && line[0] <= '9') {
      std::size_t digits = 0;
      while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
      if (digits > 15 || digits == line.size() || line[digits] != ' ') {
        return fail("bad time stamp");
      }
      micros = std::stoll(line.substr(0, digits));
      if (micros < last_micros) return fail("time goes backwards");
      last_micros = micros;
      from = digits + 1;
    }
    const std::size_t word_end = std::min(line.find(' ', from), line.size());
    const std::string word = line.substr(from, word_end - from);
    if (OneOf(word, kNotes, sizeof kNotes / sizeof *kNotes)) {
      // The tracer's first line names the driver: one of ours, or the
      // trace is not one of ours.
      const std::size_t named = line.find(" driver=", word_end);
      if (word == "TRACE" && named != std::string::npos) {
        const std::size_t at = named + 8;
        const std::string driver = line.substr(at, line.find(' ', at) - at);
        if (!OneOf(driver, kDriverNames, sizeof kDriverNames / sizeof *kDriverNames)) {
          return fail(Said("unknown driver ", driver));
        }
        if (backend != nullptr && backend->empty()) *backend = driver;
      }
      bytes_may_follow = false;
      continue;
    }
    std::string why;
    if (word == "WRITE" || word == "READ") {
      if (!bytes_may_follow || calls->empty() ||
          calls->back().name != (word == "WRITE" ? "FT_Write" : "FT_Read")) {
        return fail(word + " without its call before it");
      }
      TracedCall& call = calls->back();
      std::vector<uint8_t> bytes;
      std::size_t at = word_end;
      if (word == "WRITE") {
        if (!HexBytes(line, at, &bytes, &why)) return fail(why);
        if (bytes.size() != call.Number("count"))
          return fail("WRITE holds other than count= bytes");
      } else {
        uint32_t n = 0;
        std::string count;
        if (!NextWord(line, &at, &count) || !ParseNumber(count, &n)) {
          return fail("READ without its byte count");
        }
        if (!HexBytes(line, at, &bytes, &why)) return fail(why);
        if (bytes.size() != n) return fail("READ holds other than its count of bytes");
        if (n > call.Number("wanted") || (call.Has("read") && n != call.Number("read"))) {
          return fail("READ holds more than was wanted, or other than read=");
        }
      }
      call.bytes = std::move(bytes);
      call.has_bytes = true;
      bytes_may_follow = false;
      continue;
    }
    if (!OneOf(word, kCalls, sizeof kCalls / sizeof *kCalls)) {
      return fail(Said("unknown call ", word));
    }
    std::vector<Token> tokens;
    if (!Tokenize(line, from, &tokens, &why)) return fail(why);
    TracedCall call;
    call.line = number;
    call.micros = micros;
    call.name = word;
    if (!ParseCall(tokens, &call, &why)) return fail(why);
    calls->push_back(std::move(call));
    bytes_may_follow = true;
  }
  return true;
}

bool LoadTraceFile(const std::string& path, std::vector<TracedCall>* calls, std::string* error,
                   std::string* backend) {
  // Only a regular file, read into a string of its own size, no more than
  // the limit even if the file grows meanwhile.
  std::string text;
  if (!ReadRegularFile(path, kTraceFileLimit, &text, error, "trace")) return false;
  if (!ParseTrace(text, calls, error, backend)) {
    *error = "the trace " + QuoteForMessage(path) + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace sq71::sim
