#include "ui/message_text_win32.h"

#include "ui/message_catalogue.h"

namespace sq71 {

int LoadMessageText(HINSTANCE instance, int number, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  // LoadStringA leaves the buffer alone when the string does not exist.
  buffer[0] = '\0';
  // Loaded at every use, never cached.
  return LoadStringA(instance, static_cast<UINT>(CatalogueLookup(number).string_id), buffer, size);
}

}  // namespace sq71
