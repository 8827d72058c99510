// Catalogue messages on Windows: texts from the string table, shown in
// boxes titled with the window caption, owned by the active window.
#ifndef SQ71_APP_MESSAGE_BOX_WIN32_H
#define SQ71_APP_MESSAGE_BOX_WIN32_H

#include "ui/ui.h"

namespace sq71 {

// Loads the text of a message number into buffer (size characters,
// terminator included; a longer text is cut). Returns the characters loaded,
// 0 (and an empty buffer) for a string the table does not hold.
int LoadMessageText(int number, char* buffer, int size);

// Shows a message in the error or information style; the answer is ignored.
void ShowMessageBox(int number, MessageStyle style);

// Asks a Yes/No/Cancel question; returns the button pressed (kAnswerYes,
// kAnswerNo or kAnswerCancel). Callers go on only on kAnswerYes.
int ShowQuestionBox(int number);

}  // namespace sq71

#endif
