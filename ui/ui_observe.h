// What the wizard's tests may watch of the taskbar, which no window shows,
// and how they hand the window a drop of files. The shipped program links
// ui_observe_retail.cpp, which watches and takes nothing;
// kelvorn-testing links ui_observe_testing.cpp, which reads two variables
// at the first call:
//   KELVORN_TEST_TASKBAR_LOG   a file that gets one line a taskbar call:
//                              "<state> <value>" (normal 0..1000, error,
//                              none, flash)
//   KELVORN_TEST_NO_TASKBAR    "1": act as if the system had no taskbar
//                              interface
//   KELVORN_TEST_NO_WINDOW     "1": the main window cannot be created
//                              (read at start-up)
#ifndef KELVORN_UI_UI_OBSERVE_H
#define KELVORN_UI_UI_OBSERVE_H

#include <windows.h>

void ui_observe_taskbar(const char* state, int value);
int ui_observe_taskbar_missing(void);
// The class the main window is created with: name, or in the testing build
// with KELVORN_TEST_NO_WINDOW=1 a class that does not exist.
const wchar_t* ui_observe_window_class(const wchar_t* name);

// A WM_COPYDATA to the main window whose dwData is UI_TEST_DROP carries
// UTF-16 paths, each terminated, the list ended by an empty one, as a drop
// would: the testing build makes a real HDROP of them in its own process
// and posts WM_DROPFILES to window, so the drop takes the path of any
// other. 1 when the message was such a drop (retail: always 0).
enum { UI_TEST_DROP = 0x4B564452 };  // "KVDR"
int ui_observe_copy_data(HWND window, const COPYDATASTRUCT* data);

#endif
