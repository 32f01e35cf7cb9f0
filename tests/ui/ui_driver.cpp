#include "ui/ui_driver.h"

#include "support/test_support.h"

#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <map>

namespace ui {

std::wstring widen(const std::string& text) { return kt::widen(text); }

std::string narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out((size_t)(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}


static std::wstring text_of(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return L"";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, length + 1, (LPARAM)&text[0], SMTO_ABORTIFHUNG, 2000, &got);
    text.resize(wcslen(text.c_str()));
    return text;
}

static std::wstring class_of(HWND window) {
    wchar_t name[256];
    int n = GetClassNameW(window, name, 256);
    return std::wstring(name, n > 0 ? (size_t)n : 0);
}

void Image::pixel(int x, int y, int* r, int* g, int* b) const {
    const unsigned char* p = &rgb[((size_t)y * width + x) * 3];
    *r = p[0];
    *g = p[1];
    *b = p[2];
}

App::App() {
    InitializeCriticalSection(&lock_);
    started_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

App::~App() {
    if (process_ && running()) {
        release_held();
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 10000);
    }
    if (debugger_) {
        stop_ = 1;
        WaitForSingleObject(debugger_, 10000);
        CloseHandle(debugger_);
    }
    for (const Held& h : held_) CloseHandle(h.thread);
    if (process_) CloseHandle(process_);
    CloseHandle(started_);
    DeleteCriticalSection(&lock_);
}

struct FindMain {
    DWORD pid;
    HWND found;
};

static BOOL CALLBACK find_main(HWND window, LPARAM param) {
    FindMain* f = (FindMain*)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == f->pid && class_of(window) == L"Kelvorn") {
        f->found = window;
        return FALSE;
    }
    return TRUE;
}

bool App::start(const std::wstring& exe, const std::vector<std::wstring>& args,
                const std::vector<std::wstring>& env) {
    command_line_ = kt::quote_argument(exe);
    for (const auto& a : args) command_line_ += L" " + kt::quote_argument(a);
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
        std::wstring entry = p;
        bool overridden = false;
        for (const auto& e : env) {
            size_t eq = e.find(L'=');
            if (_wcsnicmp(entry.c_str(), e.c_str(), eq + 1) == 0) overridden = true;
        }
        if (!overridden) environment_.insert(environment_.end(), entry.begin(), entry.end() + 1);
    }
    FreeEnvironmentStringsW(block);
    for (const auto& e : env) environment_.insert(environment_.end(), e.begin(), e.end() + 1);
    environment_.push_back(0);

    debugger_ = CreateThread(nullptr, 0, debug_loop, this, 0, nullptr);
    WaitForSingleObject(started_, 30000);
    if (!start_ok_) return false;
    FindMain f = {pid_, nullptr};
    for (DWORD t0 = GetTickCount(); GetTickCount() - t0 < 30000 && !f.found; Sleep(50)) {
        EnumWindows(find_main, (LPARAM)&f);
        if (f.found && !IsWindowVisible(f.found)) f.found = nullptr;
        if (!running()) break;
    }
    main_ = f.found;
    // Let the first page finish painting.
    Sleep(300);
    return main_ != nullptr;
}

DWORD WINAPI App::debug_loop(void* self) {
    ((App*)self)->run_debugger();
    return 0;
}

void App::run_debugger() {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring line = command_line_;
    start_ok_ = CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE,
                               DEBUG_ONLY_THIS_PROCESS | CREATE_UNICODE_ENVIRONMENT, environment_.data(),
                               nullptr, &si, &pi) != 0;
    if (start_ok_) {
        process_ = pi.hProcess;
        pid_ = pi.dwProcessId;
        CloseHandle(pi.hThread);
    }
    SetEvent(started_);
    if (!start_ok_) return;
    for (;;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, 100)) {
            if (stop_ && WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) return;
            continue;
        }
        DWORD status = DBG_CONTINUE;
        bool exited = false;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: {
            const CREATE_PROCESS_DEBUG_INFO& info = event.u.CreateProcessInfo;
            image_base_ = (uintptr_t)info.lpBaseOfImage;
            IMAGE_DOS_HEADER dos = {};
            IMAGE_NT_HEADERS64 nt = {};
            SIZE_T got = 0;
            if (ReadProcessMemory(process_, info.lpBaseOfImage, &dos, sizeof dos, &got) &&
                ReadProcessMemory(process_, (char*)info.lpBaseOfImage + dos.e_lfanew, &nt, sizeof nt, &got))
                image_end_ = image_base_ + nt.OptionalHeader.SizeOfImage;
            if (info.hFile) CloseHandle(info.hFile);
            break;
        }
        case CREATE_THREAD_DEBUG_EVENT: {
            uintptr_t start = (uintptr_t)event.u.CreateThread.lpStartAddress;
            EnterCriticalSection(&lock_);
            if (to_hold_ > 0 && start >= image_base_ && start < image_end_) {
                HANDLE mine = nullptr;
                DuplicateHandle(GetCurrentProcess(), event.u.CreateThread.hThread, GetCurrentProcess(), &mine, 0,
                                FALSE, DUPLICATE_SAME_ACCESS);
                SuspendThread(mine);
                FILETIME created = {}, exited_at, kernel, user;
                GetThreadTimes(mine, &created, &exited_at, &kernel, &user);
                uint64_t when = ((uint64_t)created.dwHighDateTime << 32) | created.dwLowDateTime;
                held_.push_back(Held{event.dwThreadId, when, mine});
                ++held_total_;
                --to_hold_;
            }
            LeaveCriticalSection(&lock_);
            break;
        }
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            exited = true;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (exited) return;
    }
}

bool App::running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

int App::wait_exit(int timeout_ms) {
    if (!process_ || WaitForSingleObject(process_, (DWORD)timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return (int)code;
}

std::vector<Control> App::controls() const {
    std::vector<Control> out;
    if (!main_) return out;
    for (HWND child = GetWindow(main_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        Control c;
        c.window = child;
        c.class_name = class_of(child);
        c.text = text_of(child);
        c.id = GetDlgCtrlID(child);
        c.style = GetWindowLongW(child, GWL_STYLE);
        c.enabled = IsWindowEnabled(child) != 0;
        DWORD_PTR result = 0;
        if (_wcsicmp(c.class_name.c_str(), L"Button") == 0 &&
            SendMessageTimeoutW(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &result))
            c.checked = result == BST_CHECKED;
        // Wine answers WM_GETFONT from another process with null; the fonts
        // are then compared only where the system reports them.
        result = 0;
        SendMessageTimeoutW(child, WM_GETFONT, 0, 0, SMTO_ABORTIFHUNG, 2000, &result);
        c.font = (HFONT)result;
        GetWindowRect(child, &c.rect);
        MapWindowPoints(nullptr, main_, (POINT*)&c.rect, 2);
        out.push_back(c);
    }
    return out;
}

bool App::find_id(int id, Control* out) const {
    for (const auto& c : controls())
        if (c.id == id) {
            *out = c;
            return true;
        }
    return false;
}

bool App::find_text(const std::wstring& text, Control* out) const {
    for (const auto& c : controls())
        if (c.text == text) {
            *out = c;
            return true;
        }
    return false;
}

bool App::find_class(const std::wstring& class_name, Control* out) const {
    for (const auto& c : controls())
        if (_wcsicmp(c.class_name.c_str(), class_name.c_str()) == 0) {
            *out = c;
            return true;
        }
    return false;
}

static bool is_label(const Control& c) { return c.id == 0 && _wcsicmp(c.class_name.c_str(), L"Static") == 0; }

bool App::find_title(Control* out) const {
    bool found = false;
    for (const auto& c : controls())
        if (is_label(c) && (!found || c.rect.top < out->rect.top)) {
            *out = c;
            found = true;
        }
    return found;
}

bool App::find_label_below(const Control& anchor, Control* out) const {
    bool found = false;
    for (const auto& c : controls()) {
        if (!is_label(c) || c.window == anchor.window || c.rect.top <= anchor.rect.top) continue;
        if (c.rect.right <= anchor.rect.left || c.rect.left >= anchor.rect.right) continue;
        if (!found || c.rect.top < out->rect.top) {
            *out = c;
            found = true;
        }
    }
    return found;
}

std::wstring App::title() const {
    Control title;
    return find_title(&title) ? title.text : L"";
}

bool App::wait_title(const std::wstring& wanted, int timeout_ms) const {
    bool ok = wait_until([&] { return title() == wanted; }, timeout_ms);
    if (ok) Sleep(100);  // the rest of the page is made in the same handler
    return ok;
}

SIZE App::client_size() const {
    RECT r = {};
    GetClientRect(main_, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

int App::dpi() const { return (int)GetDpiForWindow(main_); }

void App::click(int id) const {
    Control c;
    if (find_id(id, &c)) PostMessageW(c.window, BM_CLICK, 0, 0);
}

void App::close_window() const { PostMessageW(main_, WM_CLOSE, 0, 0); }

struct FindBox {
    DWORD pid;
    HWND exclude;
    bool kelvorn_title;  // true: message boxes; false: item dialogs
    HWND found;
};

static BOOL CALLBACK find_box(HWND window, LPARAM param) {
    FindBox* f = (FindBox*)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != f->pid || window == f->exclude || !IsWindowVisible(window)) return TRUE;
    if (class_of(window) != L"#32770") return TRUE;
    bool is_kelvorn = text_of(window) == L"Kelvorn";
    if (is_kelvorn == f->kelvorn_title) {
        f->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND App::wait_message_box(int timeout_ms) const {
    FindBox f = {pid_, main_, true, nullptr};
    for (DWORD t0 = GetTickCount(); !f.found && GetTickCount() - t0 < (DWORD)timeout_ms; Sleep(30))
        EnumWindows(find_box, (LPARAM)&f);
    if (f.found) Sleep(200);
    return f.found;
}

static BOOL CALLBACK collect_children(HWND window, LPARAM param) {
    ((std::vector<HWND>*)param)->push_back(window);
    return TRUE;
}

static std::vector<HWND> descendants(HWND window) {
    std::vector<HWND> all;
    EnumChildWindows(window, collect_children, (LPARAM)&all);
    return all;
}

std::wstring dialog_texts(HWND dialog) {
    std::wstring out;
    for (HWND child : descendants(dialog))
        if (_wcsicmp(class_of(child).c_str(), L"Static") == 0) {
            std::wstring t = text_of(child);
            if (t.empty()) continue;
            if (!out.empty()) out += L"\n";
            out += t;
        }
    return out;
}

std::wstring App::message_box_text(HWND box) { return dialog_texts(box); }

void App::answer(HWND box, int button_id) {
    HWND button = GetDlgItem(box, button_id);
    if (button) PostMessageW(button, BM_CLICK, 0, 0);
}

HWND App::wait_item_dialog(int timeout_ms) const {
    FindBox f = {pid_, main_, false, nullptr};
    for (DWORD t0 = GetTickCount(); !f.found && GetTickCount() - t0 < (DWORD)timeout_ms; Sleep(50))
        EnumWindows(find_box, (LPARAM)&f);
    if (f.found) Sleep(500);  // the dialog fills its views after it shows
    return f.found;
}

bool App::wait_item_dialog_gone(int timeout_ms) const {
    for (DWORD t0 = GetTickCount(); GetTickCount() - t0 < (DWORD)timeout_ms; Sleep(50)) {
        FindBox f = {pid_, main_, false, nullptr};
        EnumWindows(find_box, (LPARAM)&f);
        if (!f.found) return true;
    }
    return false;
}

// The file name box: the dialog's edit control that is not part of a combo
// box list or the address bar (an edit whose id is the file name's).
static HWND file_name_box(HWND dialog) {
    HWND fallback = nullptr;
    for (HWND child : descendants(dialog)) {
        if (_wcsicmp(class_of(child).c_str(), L"Edit") != 0 || !IsWindowVisible(child)) continue;
        // The file name box sits in the lower part of the dialog.
        if (!fallback) fallback = child;
        RECT r, d;
        GetWindowRect(child, &r);
        GetWindowRect(dialog, &d);
        if (r.top > (d.top + d.bottom) / 2) return child;
    }
    return fallback;
}

void App::dialog_type_and_confirm(HWND dialog, const std::wstring& text) {
    HWND box = file_name_box(dialog);
    if (box) SendMessageTimeoutW(box, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG, 2000, nullptr);
    Sleep(100);
    HWND ok = GetDlgItem(dialog, IDOK);
    if (ok) PostMessageW(ok, BM_CLICK, 0, 0);
}

void App::dialog_cancel(HWND dialog) {
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    if (cancel) PostMessageW(cancel, BM_CLICK, 0, 0);
}

void App::hold_threads(int n) {
    EnterCriticalSection(&lock_);
    to_hold_ = n;
    LeaveCriticalSection(&lock_);
}

int App::held_count() const {
    EnterCriticalSection(const_cast<CRITICAL_SECTION*>(&lock_));
    int n = held_total_;
    LeaveCriticalSection(const_cast<CRITICAL_SECTION*>(&lock_));
    return n;
}

bool App::wait_held(int n, int timeout_ms) const {
    return wait_until([&] { return held_count() >= n; }, timeout_ms);
}

void App::release_held() {
    EnterCriticalSection(&lock_);
    to_hold_ = 0;
    for (const Held& h : held_) {
        ResumeThread(h.thread);
        CloseHandle(h.thread);
    }
    held_.clear();
    LeaveCriticalSection(&lock_);
}

void App::release_one() {
    EnterCriticalSection(&lock_);
    // Threads announce themselves once they run, so two threads started
    // back to back may report in either order; their creation times tell.
    // Not their ids: a Wine server that has run for a while hands out ids
    // that earlier threads left free, in no particular order.
    if (!held_.empty()) {
        auto first = std::min_element(held_.begin(), held_.end(), [](const Held& a, const Held& b) {
            return a.created != b.created ? a.created < b.created : a.id < b.id;
        });
        ResumeThread(first->thread);
        CloseHandle(first->thread);
        held_.erase(first);
    }
    LeaveCriticalSection(&lock_);
}

bool App::choose_through_dialog(int id, const std::wstring& path) {
    click(id);
    HWND dialog = wait_item_dialog(15000);
    if (!dialog) return false;
    dialog_type_and_confirm(dialog, path);
    bool gone = wait_item_dialog_gone(10000);
    Sleep(200);
    return gone;
}

bool App::cancel_dialog_of(int id) {
    click(id);
    HWND dialog = wait_item_dialog(15000);
    if (!dialog) return false;
    dialog_cancel(dialog);
    bool gone = wait_item_dialog_gone(10000);
    Sleep(200);
    return gone;
}

// Copies a rectangle of the screen.
static Image grab(int left, int top, int w, int h) {
    Image image;
    if (w <= 0 || h <= 0) return image;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, left, top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<unsigned char> bgra((size_t)w * h * 4);
    GetDIBits(memory, bitmap, 0, (UINT)h, bgra.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    image.width = w;
    image.height = h;
    image.rgb.resize((size_t)w * h * 3);
    for (size_t i = 0; i < (size_t)w * h; ++i) {
        image.rgb[i * 3] = bgra[i * 4 + 2];
        image.rgb[i * 3 + 1] = bgra[i * 4 + 1];
        image.rgb[i * 3 + 2] = bgra[i * 4];
    }
    return image;
}

Image App::capture(bool repaint) const {
    if (repaint)
        RedrawWindow(main_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
    RECT client = {};
    GetClientRect(main_, &client);
    POINT origin = {0, 0};
    ClientToScreen(main_, &origin);
    return grab(origin.x, origin.y, client.right, client.bottom);
}

void screenshot_window(HWND window, const std::string& name) {
    RECT r = {};
    GetWindowRect(window, &r);
    write_png(screenshot_dir() + "\\" + name + ".png", grab(r.left, r.top, r.right - r.left, r.bottom - r.top));
}

std::string screenshot_dir() {
    std::string dir = std::string(KELVORN_BINARY_DIR) + "/ui-screenshots";
    std::string host = "Z:" + dir;
    std::replace(host.begin(), host.end(), '/', '\\');
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::u8path(host), ec);
    return host;
}

Image App::screenshot(const std::string& name, bool repaint) const {
    Image image = capture(repaint);
    write_png(screenshot_dir() + "\\" + name + ".png", image);
    return image;
}

// --- PNG: stored (uncompressed) deflate blocks; big but simple ---

static uint32_t crc32_of(const unsigned char* bytes, size_t n, uint32_t crc = 0) {
    static uint32_t table[256];
    if (!table[1])
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

static void put32(std::vector<unsigned char>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back((unsigned char)(v >> s));
}

static void chunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data) {
    put32(out, (uint32_t)data.size());
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, crc32_of(&out[start], out.size() - start));
}

void write_png(const std::string& path, const Image& image) {
    std::vector<unsigned char> raw;
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(0);  // filter: none
        const unsigned char* row = &image.rgb[(size_t)y * image.width * 3];
        raw.insert(raw.end(), row, row + (size_t)image.width * 3);
    }
    std::vector<unsigned char> z = {0x78, 0x01};
    for (size_t at = 0; at < raw.size() || raw.empty();) {
        size_t n = std::min<size_t>(65535, raw.size() - at);
        bool last = at + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back((unsigned char)n);
        z.push_back((unsigned char)(n >> 8));
        z.push_back((unsigned char)~n);
        z.push_back((unsigned char)(~n >> 8));
        z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
        at += n;
        if (raw.empty()) break;
    }
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, (b << 16) | a);
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    put32(header, (uint32_t)image.width);
    put32(header, (uint32_t)image.height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", {});
    FILE* f = _wfopen(widen(path).c_str(), L"wb");
    if (!f) return;
    fwrite(png.data(), 1, png.size(), f);
    fclose(f);
}

// Which control of the page a table row describes: the one with its id; a
// row without an id, the label of its class and text, else the control of
// its class without an id nearest the row's place. -1 when none is left.
static std::vector<int> match_rows(const std::vector<Control>& actual, const std::vector<Expected>& expected,
                                   int dpi) {
    std::vector<int> row_of(expected.size(), -1);
    std::vector<bool> taken(actual.size(), false);
    auto same_class = [](const Control& a, const Expected& e) { return _wcsicmp(a.class_name.c_str(), e.class_name) == 0; };
    for (size_t r = 0; r < expected.size(); ++r) {
        const Expected& e = expected[r];
        for (size_t i = 0; i < actual.size() && row_of[r] < 0; ++i) {
            const Control& a = actual[i];
            if (taken[i]) continue;
            if (e.id ? a.id == e.id : (a.id == 0 && e.text && same_class(a, e) && a.text == e.text)) {
                row_of[r] = (int)i;
                taken[i] = true;
            }
        }
    }
    for (size_t r = 0; r < expected.size(); ++r) {
        const Expected& e = expected[r];
        if (row_of[r] >= 0 || e.id) continue;
        long best = 0;
        for (size_t i = 0; i < actual.size(); ++i) {
            const Control& a = actual[i];
            if (taken[i] || a.id != 0 || !same_class(a, e)) continue;
            long distance = labs(a.rect.left - MulDiv(e.x, dpi, 96)) + labs(a.rect.top - MulDiv(e.y, dpi, 96));
            if (row_of[r] < 0 || distance < best) {
                row_of[r] = (int)i;
                best = distance;
            }
        }
        if (row_of[r] >= 0) taken[row_of[r]] = true;
    }
    return row_of;
}

std::string compare_page(const std::vector<Control>& actual, const std::vector<Expected>& expected, int dpi) {
    std::string out;
    if (actual.size() != expected.size())
        out += "control count " + std::to_string(actual.size()) + ", expected " + std::to_string(expected.size()) +
               "\n";
    std::map<std::string, HFONT> fonts;
    const std::vector<int> row_of = match_rows(actual, expected, dpi);
    int last = -1;
    for (size_t r = 0; r < expected.size(); ++r) {
        const Expected& e = expected[r];
        if (row_of[r] < 0) {
            out += "row " + std::to_string(r) + " (" + narrow(e.text ? e.text : L"") + ", id " + std::to_string(e.id) +
                   "): no such control\n";
            continue;
        }
        const Control& a = actual[row_of[r]];
        std::string where = "row " + std::to_string(r) + " (" + narrow(a.text).substr(0, 40) + "): ";
        // The rows are in tab order, which is the order the controls are made in.
        if (row_of[r] < last) out += where + "comes before the row above it in tab order\n";
        last = row_of[r];
        if (_wcsicmp(a.class_name.c_str(), e.class_name) != 0)
            out += where + "class " + narrow(a.class_name) + ", expected " + narrow(e.class_name) + "\n";
        if (e.text && a.text != e.text) out += where + "text differs, expected " + narrow(e.text) + "\n";
        LONG want = e.style | WS_CHILD | WS_VISIBLE;
        // A radio button's tab stop follows its check (BM_SETCHECK moves it),
        // so that Tab lands on the group's checked button.
        if ((e.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON && _wcsicmp(e.class_name, L"Button") == 0)
            want = a.checked ? (want | WS_TABSTOP) : (want & ~WS_TABSTOP);
        if ((a.style & ~WS_DISABLED) != want) {
            char buf[96];
            snprintf(buf, sizeof buf, "style %08lx, expected %08lx\n", (unsigned long)(a.style & ~WS_DISABLED),
                     (unsigned long)want);
            out += where + buf;
        }
        RECT want_rect = {MulDiv(e.x, dpi, 96), MulDiv(e.y, dpi, 96), 0, 0};
        want_rect.right = want_rect.left + MulDiv(e.width, dpi, 96);
        want_rect.bottom = want_rect.top + MulDiv(e.height, dpi, 96);
        if (!EqualRect(&a.rect, &want_rect)) {
            char buf[160];
            snprintf(buf, sizeof buf, "rect %ld,%ld %ldx%ld, expected %ld,%ld %ldx%ld\n", a.rect.left, a.rect.top,
                     a.rect.right - a.rect.left, a.rect.bottom - a.rect.top, want_rect.left, want_rect.top,
                     want_rect.right - want_rect.left, want_rect.bottom - want_rect.top);
            out += where + buf;
        }
        if (a.id != e.id) out += where + "id " + std::to_string(a.id) + ", expected " + std::to_string(e.id) + "\n";
        auto known = fonts.find(e.font);
        if (!a.font) {
            // not reported
        } else if (known == fonts.end()) {
            for (const auto& f : fonts)
                if (f.second == a.font) out += where + "font " + e.font + " is the same as " + f.first + "\n";
            fonts[e.font] = a.font;
        } else if (known->second != a.font) {
            out += where + "font differs from the other " + e.font + " controls\n";
        }
    }
    return out;
}

struct FindTitled {
    std::wstring title;
    HWND found;
};

static BOOL CALLBACK find_titled(HWND window, LPARAM param) {
    FindTitled* f = (FindTitled*)param;
    if (IsWindowVisible(window) && text_of(window) == f->title) {
        f->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND wait_window_titled(const std::wstring& title, int timeout_ms) {
    FindTitled f = {title, nullptr};
    for (DWORD t0 = GetTickCount(); !f.found && GetTickCount() - t0 < (DWORD)timeout_ms; Sleep(50))
        EnumWindows(find_titled, (LPARAM)&f);
    if (f.found) Sleep(200);
    return f.found;
}

std::wstring process_current_directory(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) return L"";
    std::wstring out;
    PROCESS_BASIC_INFORMATION basic = {};
    ULONG got = 0;
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, &got) == 0) {
        // x64 layouts: PEB+0x20 ProcessParameters; parameters+0x38
        // CurrentDirectory.DosPath (a UNICODE_STRING).
        void* parameters = nullptr;
        UNICODE_STRING dos = {};
        SIZE_T n = 0;
        if (ReadProcessMemory(process, (char*)basic.PebBaseAddress + 0x20, &parameters, sizeof parameters, &n) &&
            ReadProcessMemory(process, (char*)parameters + 0x38, &dos, sizeof dos, &n) && dos.Length) {
            std::wstring text(dos.Length / 2, L'\0');
            if (ReadProcessMemory(process, dos.Buffer, &text[0], dos.Length, &n)) out = text;
        }
    }
    CloseHandle(process);
    return out;
}

}  // namespace ui
