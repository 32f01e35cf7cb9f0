// The wizard window: one process-wide state record, the control factory and
// the page builders. Everything here runs on the window thread unless a
// function says otherwise; worker threads (file checks, the build) hand
// results back by posting WM_APP_* messages to the main window and never
// touch a window themselves.
//
// Texts are UTF-16 in the window layer; paths go down to the core as UTF-8
// (780-byte buffers: three bytes for each of the 260 units of a path).
#ifndef KELVORN_UI_WIZARD_H
#define KELVORN_UI_WIZARD_H

#include <windows.h>
#include <shellapi.h>

#include "builder/build.h"
#include "builder/checks.h"
#include "builder/staging.h"
#include "session/session.h"

// The rows of the files page, one per input, in the order of their checks.
enum InputSlot : int {
    SLOT_BIN = INPUT_DISC_IMAGE,
    SLOT_CUE = INPUT_CUE_SHEET,
    SLOT_ROM = INPUT_CARTRIDGE_ROM,
    SLOT_COUNT = INPUT_COUNT,
};

// 0 until the first page is shown.
enum WizardPage : int { PAGE_NONE = 0, PAGE_GAME = 1, PAGE_FILES = 2, PAGE_BUILDING = 3, PAGE_RESULT = 4 };

// Posted to the main window with wParam 0.
enum {
    WM_APP_PROGRESS = WM_APP + 1,    // lParam 0: new progress fraction and status text
    WM_APP_CHECK_DONE = WM_APP + 2,  // lParam: the finished FileCheckJob, now the window's
    WM_APP_BUILD_DONE = WM_APP + 3,  // lParam 0: build_ok, build_error, build_folder are set
};

// Control ids: the low word of a WM_COMMAND wParam.
enum {
    IDC_GAME_BOSS_RALLY = 100,
    IDC_GAME_TOP_GEAR_RALLY = 101,
    IDC_CHOOSE_DEST = 102,
    IDC_CONTINUE = 103,
    IDC_BACK = 104,
    IDC_BUILD = 105,
    IDC_CANCEL = 106,
    IDC_OPEN_FOLDER = 107,
    IDC_PLAY = 108,
    IDC_CLOSE = 109,
    IDC_CHOOSE_BIN = 110,
    IDC_CHOOSE_CUE = 111,
    IDC_CHOOSE_ROM = 112,
    IDC_DROP_NOTE = 113,  // the note about files dropped or opened, when there is one
};

enum {
    UI_PATH_UNITS = 260,      // a UTF-16 path: at most 259 characters and a terminator
    UI_PATH_UTF8 = 780,       // the same path as UTF-8
    UI_MAX_CONTROLS = 64,
    UI_STATUS_UNITS = 256,
    UI_BUILD_ERROR = 1024,
    UI_BUILD_FOLDER = 2048,
    UI_MESSAGE_UNITS = 4096,  // a message box's text
    UI_OPENED_FILES = 8,      // files named bare on the command line that are taken
};

// Layout unit: the client area is 588 x 400 at 96 DPI.
enum { CLIENT_WIDTH = 588, CLIENT_HEIGHT = 400 };

struct WizardState {
    HWND main_window;  // set once at start-up, before any worker thread exists
    HFONT font_normal, font_bold, font_title, font_mono;
    GameKind game;
    wchar_t dest_path[UI_PATH_UNITS];
    wchar_t input_path[SLOT_COUNT][UI_PATH_UNITS];
    int verdict_good[SLOT_COUNT];
    FileStamp verdict_stamp[SLOT_COUNT];  // the checked file, for the build to compare
    AudioDigests verdict_audio;           // the checked disc image's audio tracks, for the build
    HWND verdict_label[SLOT_COUNT];  // null while that row is not shown
    int pending_checks;
    WizardPage page;
    CancelFlag cancel_requested;  // only goes 0 -> 1 while a build runs
    HWND status_label, progress_bar, build_button;
    HWND drop_note;  // null until a drop or an opened file needs a word
    HWND controls[UI_MAX_CONTROLS];
    int control_count;

    // Build thread -> window hand-off. progress_fraction and status_text are
    // rewritten by every progress report while earlier WM_APP_PROGRESS
    // messages may still be queued; both sides touch them only under
    // progress_lock so that the window never reads a half-written text.
    SRWLOCK progress_lock;
    double progress_fraction;
    wchar_t status_text[UI_STATUS_UNITS];

    // Written by the build thread before it posts WM_APP_BUILD_DONE.
    int build_ok;
    char build_error[UI_BUILD_ERROR];
    char build_folder[UI_BUILD_FOLDER];

    // Files named on the command line without an option (how Explorer opens
    // a file with the program), taken once the window is up.
    wchar_t opened_path[UI_OPENED_FILES][UI_PATH_UNITS];
    int opened_count;
};

// One started file check: made zero-filled by the window thread, owned by its
// check thread while it runs, handed back with WM_APP_CHECK_DONE and freed by
// the window thread.
struct FileCheckJob {
    InputSlot slot;
    wchar_t path[UI_PATH_UNITS];
    FileCheck check;
};

extern WizardState g_wizard;

// --- main_window.cpp ---
// Start-up steps 5 to 8: registers the "Kelvorn" class, creates the main
// window (hidden) that accepts dropped files, gives it its 588 x 400 client
// area at the window's DPI and makes the four fonts. 0 when the window
// cannot be made; then *error (when error is not null) is GetLastError of
// the call that failed.
int create_main_window(HINSTANCE instance, DWORD* error);
// Tells the user, in an error box of its own (there is no window to own
// it), that the window could not be made, with the system's text of error.
void report_window_failure(DWORD error);
// Applies the command line to g_wizard; 1 when --build was given. A path
// value longer than the wizard keeps is refused, not cut: it is left out,
// and the refusal goes to refusal (units, "" when none) for the caller to
// show once the window is up. A token that is not an option ("--...") is a
// file to open: up to UI_OPENED_FILES of them go to opened_path, for
// open_command_line_files.
int read_command_line(wchar_t* refusal, int units);
// x, y, width, height in 96-DPI units; the control is recorded for clear_page
// (up to 64 per page).
HWND create_control(const wchar_t* class_name, const wchar_t* text, DWORD style, int x, int y,
                    int width, int height, int id, HFONT font);
// Destroys every recorded control and forgets the page's handles.
void clear_page(void);
// Called by every page builder once its controls exist: gives the keyboard
// focus to the page's default button when the window is active.
void focus_page(void);
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Worker threads: posts message to the main window, waiting out a full
// message queue (a build that reports often can fill it), so that a result
// is never lost. 0 only when the window is gone.
int post_result(UINT message, LPARAM lparam);

// Copies source whole into a 260-unit path buffer and returns 1, or returns
// 0 and leaves destination as it was when source is longer than the wizard
// keeps (the session's path policy): a cut path would name another file.
// A null source copies as "".
int copy_path(wchar_t* destination, const wchar_t* source);
// Tells the user that path (UTF-16) is too long to be used, in a warning box.
void refuse_long_path(const wchar_t* path);
// UTF-16 -> UTF-8 into out[0..capacity), cut at a whole character and always
// terminated.
void to_utf8(const wchar_t* text, char* out, int capacity);
// UTF-8 -> UTF-16 into out[0..units), always terminated.
void to_utf16(const char* text, wchar_t* out, int units);

// --- game_page.cpp ---
void show_game_page(void);
// Asks for a folder (folder_mode 1) or a file through the common item dialog.
// destination: 260 units, written only when the result is 1. The filter
// texts are used in file mode only. A choice whose path is too long for the
// wizard is refused with a warning (refuse_long_path) and gives 0.
int choose_path(int folder_mode, wchar_t* destination, const wchar_t* filter_name,
                const wchar_t* filter_pattern);

// --- files_page.cpp ---
void show_files_page(void);
HWND add_file_row(InputSlot slot, const wchar_t* label, const char* expected_md5, int y,
                  int choose_id);
void accept_disc_file(int cue_button, const wchar_t* path);
// Records a chosen file for slot and starts its check on a thread of its
// own. A path longer than the wizard keeps is refused (refuse_long_path).
void start_file_check(InputSlot slot, const wchar_t* path);
void update_build_button(void);
// lParam of WM_APP_CHECK_DONE: the finished job, freed here.
void on_check_done(LPARAM job);
LRESULT on_ctlcolorstatic(HDC device_context, HWND control);
void on_choose_file(int id);

// --- drop.cpp ---
// Files handed over whole, dropped on the window or opened with the
// program, are taken the way the Choose... buttons take them: the first one
// whose extension names a game picks that game (game_of_input_file), the
// files page of that game is shown, and each file of that game fills its
// row (a disc file finds its partner) and is checked. What is not taken
// (another extension, no regular file, the other game's file, anything
// during a build) is told in a note on the page, never in a box.
// from_command_line words the note for files opened with the program.
// Returns 1 when every file was taken.
int take_handed_files(const wchar_t* const* paths, int count, int from_command_line);
// WM_DROPFILES: takes the drop's files and releases it.
void on_drop_files(HDROP drop);
// Start-up: takes the files of the command line (opened_path); 1 when every
// one was taken (or there were none).
int open_command_line_files(void);
// Shows text in the page's note, made on first use (a page without a note
// looks as it always did).
void show_drop_note(const wchar_t* text);

// --- build_pages.cpp ---
void start_build(void);
// Replaces the page with the building page (start_build's steps 4 and 5).
void show_building_page(void);
// ProgressFn of the build; runs on the build thread.
void report_progress(uint64_t user, double fraction, const char* status);
// The build thread: runs the build driver and posts WM_APP_BUILD_DONE.
DWORD WINAPI build_thread(void* parameter);
void on_progress(void);
void show_result_page(void);
void on_cancel(HWND cancel_button);
void open_build_folder(void);
void play_build(void);

#endif
