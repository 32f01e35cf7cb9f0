// Start-up, the command line, the main window, the control factory and the
// window procedure that dispatches to the pages.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <wchar.h>

#include "ui/taskbar.h"
#include "ui/ui_observe.h"
#include "ui/wizard.h"

WizardState g_wizard;

static const wchar_t WINDOW_CLASS[] = L"Kelvorn";
static const DWORD WINDOW_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;  // 0x00CA0000

// The whole NONCLIENTMETRICSW, padded-border member included.
enum { NONCLIENT_METRICS_SIZE = 504 };
static_assert(sizeof(NONCLIENTMETRICSW) == NONCLIENT_METRICS_SIZE, "NONCLIENTMETRICSW layout");

int post_result(UINT message, LPARAM lparam) {
    while (!PostMessageW(g_wizard.main_window, message, 0, lparam)) {
        if (!IsWindow(g_wizard.main_window)) return 0;
        Sleep(10);
    }
    return 1;
}

int copy_path(wchar_t* destination, const wchar_t* source) {
    if (!source) source = L"";
    size_t n = wcslen(source);
    // Counted by the session's policy; a text too long for the buffer is
    // too long for the policy as well, so the conversion's cut decides
    // nothing.
    char utf8[PATH_CAPACITY];
    to_utf8(source, utf8, sizeof utf8);
    if (n >= UI_PATH_UNITS || !path_fits(FRONT_WIZARD, utf8)) return 0;
    memcpy(destination, source, (n + 1) * sizeof(wchar_t));
    return 1;
}

// The wizard's refusal of a path too long to use, into out (units).
static void format_long_path(const wchar_t* path, wchar_t* out, int units) {
    char utf8[PATH_CAPACITY];
    to_utf8(path, utf8, sizeof utf8);
    char message[PATH_CAPACITY + 256];
    format_path_too_long(FRONT_WIZARD, message, sizeof message, utf8);
    to_utf16(message, out, units);
}

void refuse_long_path(const wchar_t* path) {
    wchar_t text[UI_MESSAGE_UNITS];
    format_long_path(path, text, UI_MESSAGE_UNITS);
    MessageBoxW(g_wizard.main_window, text, L"Kelvorn", MB_ICONWARNING);
}

void to_utf8(const wchar_t* text, char* out, int capacity) {
    if (capacity <= 0) return;
    out[0] = 0;
    if (!text || !text[0]) return;
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, capacity, nullptr, nullptr);
    if (n > 0) return;
    // Too long: convert characters one at a time until the next would not fit.
    int used = 0;
    for (int i = 0; text[i];) {
        int units = (IS_HIGH_SURROGATE(text[i]) && IS_LOW_SURROGATE(text[i + 1])) ? 2 : 1;
        char piece[8];
        int bytes = WideCharToMultiByte(CP_UTF8, 0, text + i, units, piece, sizeof piece, nullptr, nullptr);
        if (bytes <= 0 || used + bytes > capacity - 1) break;
        memcpy(out + used, piece, (size_t)bytes);
        used += bytes;
        i += units;
    }
    out[used] = 0;
}

void to_utf16(const char* text, wchar_t* out, int units) {
    if (units <= 0) return;
    out[0] = 0;
    if (!text || !text[0]) return;
    int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, out, units);
    if (n > 0) return;
    int needed = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (needed <= 0) return;
    wchar_t* whole = (wchar_t*)malloc((size_t)needed * sizeof(wchar_t));
    if (!whole) return;
    MultiByteToWideChar(CP_UTF8, 0, text, -1, whole, needed);
    int keep = units - 1;
    if (keep > 0 && IS_HIGH_SURROGATE(whole[keep - 1])) --keep;
    memcpy(out, whole, (size_t)keep * sizeof(wchar_t));
    out[keep] = 0;
    free(whole);
}

HWND create_control(const wchar_t* class_name, const wchar_t* text, DWORD style, int x, int y,
                    int width, int height, int id, HFONT font) {
    int dpi = (int)GetDpiForWindow(g_wizard.main_window);
    HWND control = CreateWindowExW(0, class_name, text, style | WS_CHILD | WS_VISIBLE,
                                   MulDiv(x, dpi, 96), MulDiv(y, dpi, 96), MulDiv(width, dpi, 96),
                                   MulDiv(height, dpi, 96), g_wizard.main_window,
                                   (HMENU)(INT_PTR)id, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, (WPARAM)font, 1);
    if (g_wizard.control_count < UI_MAX_CONTROLS) g_wizard.controls[g_wizard.control_count++] = control;
    return control;
}

void clear_page(void) {
    for (int i = 0; i < g_wizard.control_count; ++i) DestroyWindow(g_wizard.controls[i]);
    g_wizard.control_count = 0;
    g_wizard.build_button = nullptr;
    g_wizard.status_label = nullptr;
    g_wizard.progress_bar = nullptr;
    g_wizard.drop_note = nullptr;
    for (int slot = 0; slot < SLOT_COUNT; ++slot) g_wizard.verdict_label[slot] = nullptr;
}

// The control that takes the keyboard focus on the current page: its default
// button, else its first enabled tab stop. The building page keeps the focus
// on the window itself, so that a stray Enter or Space cannot cancel a build.
static HWND focus_target(void) {
    if (g_wizard.page == PAGE_BUILDING) return nullptr;
    HWND first = nullptr;
    for (int i = 0; i < g_wizard.control_count; ++i) {
        HWND control = g_wizard.controls[i];
        LONG style = GetWindowLongW(control, GWL_STYLE);
        if (!(style & WS_TABSTOP) || !IsWindowEnabled(control)) continue;
        if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return control;
        if (!first) first = control;
    }
    return first;
}

void focus_page(void) {
    if (GetActiveWindow() != g_wizard.main_window) return;
    HWND focus = GetFocus();
    if (focus && focus != g_wizard.main_window) return;
    HWND target = focus_target();
    if (target) SetFocus(target);
}

// Start-up: the fonts, all from the message-box font at the window's DPI.
static void make_fonts(UINT dpi) {
    NONCLIENTMETRICSW metrics;
    memset(&metrics, 0, sizeof metrics);
    metrics.cbSize = NONCLIENT_METRICS_SIZE;
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, NONCLIENT_METRICS_SIZE, &metrics, 0, dpi);
    LOGFONTW font = metrics.lfMessageFont;
    g_wizard.font_normal = CreateFontIndirectW(&font);
    font.lfWeight = 600;
    g_wizard.font_bold = CreateFontIndirectW(&font);
    font.lfHeight = MulDiv(font.lfHeight, 3, 2);
    g_wizard.font_title = CreateFontIndirectW(&font);
    font = metrics.lfMessageFont;
    wcscpy(font.lfFaceName, L"Consolas");
    g_wizard.font_mono = CreateFontIndirectW(&font);
}

int read_command_line(wchar_t* refusal, int units) {
    if (units > 0) refusal[0] = 0;
    int build = 0;
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args) return 0;
    for (int i = 1; i < count;) {
        const wchar_t* token = args[i];
        const wchar_t* value = i + 1 < count ? args[i + 1] : L"";
        wchar_t* target = nullptr;
        int slot = -1;
        if (wcscmp(token, L"--build") == 0) {
            build = 1;
            i += 1;
            continue;
        }
        if (wcscmp(token, L"--game") == 0) {
            g_wizard.game = wcscmp(value, L"tgr") == 0 ? GAME_TOP_GEAR_RALLY : GAME_BOSS_RALLY;
            i += 2;
            continue;
        }
        if (wcscmp(token, L"--dest") == 0) {
            target = g_wizard.dest_path;
        } else if (wcscmp(token, L"--bin") == 0 || wcscmp(token, L"--cue") == 0 ||
                   wcscmp(token, L"--rom") == 0) {
            slot = token[2] == L'b' ? SLOT_BIN : token[2] == L'c' ? SLOT_CUE : SLOT_ROM;
            target = g_wizard.input_path[slot];
        } else if (wcsncmp(token, L"--", 2) == 0) {
            // An option this program does not know.
            i += 1;
            continue;
        } else {
            // A file to open, as Explorer names it.
            i += 1;
            if (g_wizard.opened_count >= UI_OPENED_FILES) continue;
            if (!copy_path(g_wizard.opened_path[g_wizard.opened_count], token)) {
                if (units > 0 && !refusal[0]) format_long_path(token, refusal, units);
                continue;
            }
            g_wizard.opened_count += 1;
            continue;
        }
        i += 2;
        if (!copy_path(target, value)) {
            // The first refusal is the one shown.
            if (units > 0 && !refusal[0]) format_long_path(value, refusal, units);
            continue;
        }
        if (slot >= 0) g_wizard.verdict_good[slot] = 1;
    }
    LocalFree(args);
    return build;
}

static void on_command(int id, HWND control) {
    switch (id) {
    case IDC_GAME_BOSS_RALLY:
        g_wizard.game = GAME_BOSS_RALLY;
        break;
    case IDC_GAME_TOP_GEAR_RALLY:
        g_wizard.game = GAME_TOP_GEAR_RALLY;
        break;
    case IDC_CHOOSE_DEST:
        if (choose_path(1, g_wizard.dest_path, nullptr, nullptr)) show_game_page();
        break;
    case IDC_CONTINUE:
        show_files_page();
        break;
    case IDC_BACK:
        if (g_wizard.page == PAGE_RESULT)
            show_files_page();
        else
            show_game_page();
        break;
    case IDC_BUILD:
        start_build();
        break;
    case IDC_CANCEL:
        on_cancel(control);
        break;
    case IDC_OPEN_FOLDER:
        open_build_folder();
        break;
    case IDC_PLAY:
        play_build();
        break;
    case IDC_CLOSE:
        DestroyWindow(g_wizard.main_window);
        break;
    case IDC_CHOOSE_BIN:
    case IDC_CHOOSE_CUE:
    case IDC_CHOOSE_ROM:
        on_choose_file(id);
        break;
    default:
        break;
    }
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == taskbar_button_created_message()) {
        taskbar_attach(window);
        return 0;
    }
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        if (g_wizard.page == PAGE_BUILDING)
            request_cancel(&g_wizard.cancel_requested);
        else
            DestroyWindow(g_wizard.main_window);
        return 0;
    case WM_COMMAND:
        on_command(LOWORD(wparam), (HWND)lparam);
        return 0;
    case WM_SETFOCUS: {
        // Activation gives the focus to the window; hand it to the page.
        HWND target = focus_target();
        if (target) SetFocus(target);
        return 0;
    }
    case WM_CTLCOLORSTATIC:
        return on_ctlcolorstatic((HDC)wparam, (HWND)lparam);
    case WM_APP_PROGRESS:
        on_progress();
        return 0;
    case WM_APP_CHECK_DONE:
        on_check_done(lparam);
        return 0;
    case WM_APP_BUILD_DONE:
        show_result_page();
        return 0;
    case WM_DROPFILES:
        on_drop_files((HDROP)wparam);
        return 0;
    case WM_COPYDATA:
        if (ui_observe_copy_data(window, (const COPYDATASTRUCT*)lparam)) return TRUE;
        return DefWindowProcW(window, message, wparam, lparam);
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

int create_main_window(HINSTANCE instance, DWORD* error) {
    WNDCLASSW window_class;
    memset(&window_class, 0, sizeof window_class);
    window_class.style = 0;
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, L"APPICON");
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    window_class.lpszClassName = WINDOW_CLASS;
    if (!RegisterClassW(&window_class)) {
        if (error) *error = GetLastError();
        return 0;
    }

    g_wizard.main_window = CreateWindowExW(0, ui_observe_window_class(WINDOW_CLASS), L"Kelvorn", WINDOW_STYLE,
                                           CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance,
                                           nullptr);
    if (!g_wizard.main_window) {
        if (error) *error = GetLastError();
        return 0;
    }
    DragAcceptFiles(g_wizard.main_window, TRUE);
    // Explorer says when the button exists (and again after it restarts);
    // until then, and where it never says, the interface is taken now.
    taskbar_attach(g_wizard.main_window);

    UINT dpi = GetDpiForWindow(g_wizard.main_window);
    RECT frame = {0, 0, MulDiv(CLIENT_WIDTH, (int)dpi, 96), MulDiv(CLIENT_HEIGHT, (int)dpi, 96)};
    AdjustWindowRectExForDpi(&frame, WINDOW_STYLE, FALSE, 0, dpi);
    SetWindowPos(g_wizard.main_window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    make_fonts(dpi);
    return 1;
}

void report_window_failure(DWORD error) {
    wchar_t system_text[1024];
    DWORD units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                 system_text, 1024, nullptr);
    // The system's text ends with a line break, which the box does not need.
    while (units > 0 && (system_text[units - 1] == L'\r' || system_text[units - 1] == L'\n' ||
                         system_text[units - 1] == L' '))
        --units;
    system_text[units] = 0;
    wchar_t text[UI_MESSAGE_UNITS];
    if (units)
        _snwprintf(text, UI_MESSAGE_UNITS, L"Kelvorn could not open its window: %ls (error %lu)", system_text,
                   (unsigned long)error);
    else
        _snwprintf(text, UI_MESSAGE_UNITS, L"Kelvorn could not open its window (error %lu).",
                   (unsigned long)error);
    text[UI_MESSAGE_UNITS - 1] = 0;
    MessageBoxW(nullptr, text, L"Kelvorn", MB_ICONERROR | MB_OK);
}
