// Settings files of one `key = value` a line: the simulator's scenario files
// and the report's job files.
//
//   # whole-line comments start with '#'; a '#' inside a value is part of it
//   key = value               # blanks around the key and the value are dropped
//   description = " a b "     # quotes keep blanks at either end
//   [section]                 # a line in brackets starts a section
#ifndef SQ71_LOG_KEY_VALUE_TEXT_H
#define SQ71_LOG_KEY_VALUE_TEXT_H

#include <functional>
#include <string>

namespace sq71 {

// Called for each setting in order: a section line ("[device]", in `key`,
// with `section` set) or a key and its value. Returns false with a message in
// *error to stop.
using KeyValueSink = std::function<bool(const std::string& key, const std::string& value,
                                        bool section, std::string* error)>;

// False at the first line that is not a comment, a section or `key = value`,
// or that the sink refuses, with "line N: why" in *error (the line's own
// bytes escaped).
bool ParseKeyValueText(const std::string& text, const KeyValueSink& sink, std::string* error);

}  // namespace sq71

#endif
