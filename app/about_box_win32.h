// The About box (dialog 110): the program's name and version over a picture.
#ifndef SQ71_APP_ABOUT_BOX_WIN32_H
#define SQ71_APP_ABOUT_BOX_WIN32_H

#include <windows.h>

namespace sq71 {

// Format of the version text, filled with the major and minor version.
constexpr const char* kAboutVersionFormat = "SQ-71 Satellite Meter V%d.%02d";
// Top edge of the picture at 96 DPI, in pixels below the client area's top.
constexpr int kAboutPictureTop = 58;
// The room the picture has, in dialog units: below the OK button, a unit in
// from the client area's sides and bottom.
constexpr RECT kAboutPictureRoom = {1, 26, 149, 123};

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Runs the About box modally, owned by owner.
void ShowAboutBox(HWND owner);

}  // namespace sq71

#endif
