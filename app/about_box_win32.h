// The About box (dialog 110): the program's name and version over a picture.
#ifndef SQ71_APP_ABOUT_BOX_WIN32_H
#define SQ71_APP_ABOUT_BOX_WIN32_H

#include <windows.h>

namespace sq71 {

// Format of the version text, filled with the major and minor version.
constexpr const char* kAboutVersionFormat = "SQ-71 Satellite Meter V%d.%02d";
// Top edge of the picture, in pixels below the client area's top.
constexpr int kAboutPictureTop = 58;

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Runs the About box modally, owned by owner.
void ShowAboutBox(HWND owner);

}  // namespace sq71

#endif
