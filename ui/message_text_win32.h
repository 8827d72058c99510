// Catalogue texts from a module's string table, for the shell and for the
// dialogs that live beside their subject.
#ifndef SQ71_UI_MESSAGE_TEXT_WIN32_H
#define SQ71_UI_MESSAGE_TEXT_WIN32_H

#include <windows.h>

namespace sq71 {

// Loads the text of a message number from instance's string table into
// buffer (size characters, terminator included; a longer text is cut).
// Returns the characters loaded, 0 (and an empty buffer) for a string the
// table does not hold.
int LoadMessageText(HINSTANCE instance, int number, char* buffer, int size);

}  // namespace sq71

#endif
