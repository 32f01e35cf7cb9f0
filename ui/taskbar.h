// The taskbar button mirrors the build: its progress while the bar on the
// page moves, the error state after a failed build until the page is left,
// and a flash when a build ends while the window is in the background.
// Where the system has no taskbar interface (CoCreateInstance fails) every
// call does nothing and the wizard works as before. Window thread only.
#ifndef KELVORN_UI_TASKBAR_H
#define KELVORN_UI_TASKBAR_H

#include <windows.h>

// The message Explorer sends once the window's button exists, and again
// after Explorer restarts; the main window answers it with taskbar_attach.
UINT taskbar_button_created_message(void);
// Takes the taskbar interface for window (again, after a restart of
// Explorer); the progress shown before stays lost, the next call sets it.
void taskbar_attach(HWND window);
// The build's fraction, 0 to 1, in the normal state, in step with the bar.
void taskbar_progress(double fraction);
// The error state (a full red button), after a failed build.
void taskbar_error(void);
// No progress on the button: the result page was left.
void taskbar_clear(void);
// Flashes the window's button until the window is activated, unless it
// already is the foreground window.
void taskbar_flash_if_background(HWND window);

#endif
