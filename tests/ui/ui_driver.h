// Drives the wizard from outside, the way a user would: starts kelvorn.exe
// with arguments, finds its window, reads its controls, clicks, answers its
// message boxes, works the common item dialog and takes screenshots.
//
// The program runs under this process's debugger, which lets a test hold a
// worker thread of the program at its creation (a build or a file check)
// and release it later. That makes "during the build" a state a test can
// look at instead of a race against a fast cartridge build.
#ifndef KELVORN_TESTS_UI_DRIVER_H
#define KELVORN_TESTS_UI_DRIVER_H

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace ui {

struct Control {
    HWND window = nullptr;
    std::wstring class_name;
    std::wstring text;
    int id = 0;
    LONG style = 0;
    bool enabled = false;
    bool checked = false;
    RECT rect = {};      // in the main window's client coordinates
    HFONT font = nullptr;
};

// One row of a page table as the program's layout gives it (96-DPI units).
struct Expected {
    const wchar_t* class_name;
    const wchar_t* text;  // null: not compared
    LONG style;           // the control's own style bits; WS_CHILD | WS_VISIBLE are added
    int x, y, width, height;
    int id;
    const char* font;  // "normal", "bold", "title", "mono": compared as a partition
};

struct Image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;  // row-major, 3 bytes per pixel
    void pixel(int x, int y, int* r, int* g, int* b) const;
};

class App {
public:
    App();
    ~App();  // ends a program still running
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // Starts exe (a full path) with args; waits for the "Kelvorn" window.
    // env: extra "NAME=value" entries added to this process's environment.
    bool start(const std::wstring& exe, const std::vector<std::wstring>& args,
               const std::vector<std::wstring>& env = {});
    HWND main() const { return main_; }
    DWORD pid() const { return pid_; }
    bool running() const;
    // Waits for the program to end; -1 on timeout.
    int wait_exit(int timeout_ms);

    // Every control of the page (in creation order, which nothing here
    // relies on for finding one: a control is found by its id, a label by
    // its class and text or by where it sits).
    std::vector<Control> controls() const;
    // The control with that id (the IDC_* ids of ui/wizard.h; labels have 0).
    bool find_id(int id, Control* out) const;
    bool find_text(const std::wstring& text, Control* out) const;
    // The page's one control of that class (the progress bar).
    bool find_class(const std::wstring& class_name, Control* out) const;
    // The topmost label: the page's title.
    bool find_title(Control* out) const;
    // The label (a Static without an id) nearest below anchor's top edge
    // that overlaps it across: the status under the progress bar, the
    // message under the title, a file row's verdict under its digest line.
    bool find_label_below(const Control& anchor, Control* out) const;
    std::wstring title() const;  // the title's text, "" without one
    bool wait_title(const std::wstring& title, int timeout_ms) const;
    // Waits until pred holds for the current controls.
    template <class F>
    bool wait_until(F pred, int timeout_ms) const {
        for (DWORD start = GetTickCount(); GetTickCount() - start < (DWORD)timeout_ms; Sleep(20))
            if (pred()) return true;
        return pred();
    }
    SIZE client_size() const;
    int dpi() const;

    // Posted, so a click that opens a modal dialog does not block the driver.
    void click(int id) const;
    void close_window() const;  // WM_CLOSE, as the title bar's close box

    // A "Kelvorn" message box of this process: its text; click a button id.
    HWND wait_message_box(int timeout_ms) const;
    static std::wstring message_box_text(HWND box);
    static void answer(HWND box, int button_id);

    // The common item dialog opened by the program: its window, or null.
    HWND wait_item_dialog(int timeout_ms) const;
    // Types text into the dialog's file name box and presses its OK button.
    static void dialog_type_and_confirm(HWND dialog, const std::wstring& text);
    static void dialog_cancel(HWND dialog);
    // Waits until no item dialog of this program is open.
    bool wait_item_dialog_gone(int timeout_ms) const;

    // Holds the next n worker threads the program starts (its own code's
    // threads only), suspended at creation until release_held.
    void hold_threads(int n);
    int held_count() const;  // threads held so far, released ones included
    bool wait_held(int n, int timeout_ms) const;
    void release_held();
    // Resumes only the earliest created of the threads still held.
    void release_one();
    // Clicks a "Choose..." button, types path into the dialog and confirms.
    bool choose_through_dialog(int id, const std::wstring& path);
    // A file path with nothing under it; the dialog is cancelled.
    bool cancel_dialog_of(int id);

    // Captures the window's client area from the screen. repaint: make the
    // window paint everything first; without it the capture shows what the
    // program itself last drew (stale colours included).
    Image capture(bool repaint = true) const;
    // Saves capture() as <screenshot dir>/<name>.png; returns the image.
    Image screenshot(const std::string& name, bool repaint = true) const;

private:
    static DWORD WINAPI debug_loop(void* self);
    void run_debugger();

    HWND main_ = nullptr;
    DWORD pid_ = 0;
    HANDLE process_ = nullptr;
    HANDLE debugger_ = nullptr;
    HANDLE started_ = nullptr;  // set when CreateProcess returned (ok or not)
    bool start_ok_ = false;
    std::wstring command_line_;
    std::vector<wchar_t> environment_;
    CRITICAL_SECTION lock_;
    uintptr_t image_base_ = 0, image_end_ = 0;
    int to_hold_ = 0;
    struct Held {
        DWORD id;
        uint64_t created;  // the thread's creation time (100 ns units)
        HANDLE thread;
    };
    std::vector<Held> held_;
    int held_total_ = 0;
    volatile LONG stop_ = 0;
};

// Checks a page against its table; returns "" or a description of every
// difference. dpi scales the expected rectangles.
std::string compare_page(const std::vector<Control>& actual, const std::vector<Expected>& expected, int dpi);

// Top-level windows of another process (e.g. the started game) by title.
HWND wait_window_titled(const std::wstring& title, int timeout_ms);
// The current directory of the process owning window, or "".
std::wstring process_current_directory(HWND window);
// All static texts of a dialog joined with '\n'.
std::wstring dialog_texts(HWND dialog);

std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);
// Folder for screenshots (created on first use).
std::string screenshot_dir();
void write_png(const std::string& path, const Image& image);
// Saves the screen under a top-level window (a message box, a dialog).
void screenshot_window(HWND window, const std::string& name);

}  // namespace ui

#endif
