#include "core/fs_conditions.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace kt {

#ifdef _WIN32

bool pin(const std::string& path, Pin* out) {
    HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    out->path = path;
    out->handle = (intptr_t)h;
    out->held = true;
    return true;
}

void unpin(Pin* p) {
    if (!p->held) return;
    CloseHandle((HANDLE)p->handle);
    p->held = false;
}

static bool running_under_wine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Unix path of a Windows path, through Wine's own export.
static std::string unix_path_of(const std::string& path) {
    typedef char*(__cdecl * Fn)(const wchar_t*);
    Fn fn = (Fn)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (!fn) return "";
    char* u = fn(widen(path).c_str());
    if (!u) return "";
    std::string s(u);
    HeapFree(GetProcessHeap(), 0, u);
    return s;
}

static bool run_unix(const std::string& command_line) {
    std::wstring line = widen(command_line);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return true;
}

static bool make_junction(const std::string& link, const std::string& target) {
    if (!CreateDirectoryW(widen(link).c_str(), nullptr)) return false;
    HANDLE h = CreateFileW(widen(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    bool ok = false;
    if (h != INVALID_HANDLE_VALUE) {
        // Mount-point reparse buffer: tag, lengths, then the NT substitute
        // name and an empty print name, both zero-terminated.
        std::wstring sub = L"\\??\\" + widen(target);
        std::vector<unsigned char> buf(8 + 8 + (sub.size() + 2) * 2, 0);
        DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
        WORD data_length = (WORD)(buf.size() - 8);
        WORD sub_bytes = (WORD)(sub.size() * 2), print_offset = (WORD)(sub_bytes + 2), zero = 0;
        memcpy(&buf[0], &tag, 4);
        memcpy(&buf[4], &data_length, 2);
        memcpy(&buf[8], &zero, 2);
        memcpy(&buf[10], &sub_bytes, 2);
        memcpy(&buf[12], &print_offset, 2);
        memcpy(&buf[14], &zero, 2);
        memcpy(&buf[16], sub.c_str(), sub_bytes);
        DWORD got = 0;
        ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), (DWORD)buf.size(), nullptr, 0, &got, nullptr);
        CloseHandle(h);
    }
    if (!ok) RemoveDirectoryW(widen(link).c_str());
    return ok;
}

static bool is_folder_link(const std::string& link) {
    DWORD a = GetFileAttributesW(widen(link).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

LinkKind make_folder_link(const std::string& link, const std::string& target) {
    // Wine's CreateSymbolicLinkW reports success without making anything,
    // so every attempt is checked by its result on disk.
    if (CreateSymbolicLinkW(widen(link).c_str(), widen(target).c_str(),
                            SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2 /* allow unprivileged */) &&
        is_folder_link(link))
        return LINK_REMOVABLE;
    if (make_junction(link, target) && is_folder_link(link)) return LINK_REMOVABLE;
    if (running_under_wine()) {
        std::string ul = unix_path_of(link), ut = unix_path_of(target);
        if (!ul.empty() && !ut.empty() && run_unix("Z:\\bin\\ln -s \"" + ut + "\" \"" + ul + "\"")) {
            // Wine does not wait for a Unix process: poll for its result.
            for (int i = 0; i < 500 && !is_folder_link(link); ++i) Sleep(10);
            if (is_folder_link(link)) return LINK_WINE_UNIX;
        }
    }
    return LINK_NONE;
}

void remove_link(const std::string& link, LinkKind kind) {
    if (kind == LINK_WINE_UNIX) {
        std::string ul = unix_path_of(link);
        if (!ul.empty() && run_unix("Z:\\bin\\rm -f \"" + ul + "\""))
            for (int i = 0; i < 500 && GetFileAttributesW(widen(link).c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
                Sleep(10);
    } else if (kind == LINK_REMOVABLE) {
        RemoveDirectoryW(widen(link).c_str());
    }
}

bool make_sparse_file(const std::string& path, uint64_t size) {
    HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD got = 0;
    DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &got, nullptr);  // best effort
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)size;
    bool ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    return ok;
}

#else

static bool set_immutable(const std::string& path, bool on) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}

bool pin(const std::string& path, Pin* out) {
    if (!set_immutable(path, true)) return false;
    out->path = path;
    out->held = true;
    return true;
}

void unpin(Pin* p) {
    if (!p->held) return;
    set_immutable(p->path, false);
    p->held = false;
}

LinkKind make_folder_link(const std::string& link, const std::string& target) {
    return symlink(target.c_str(), link.c_str()) == 0 ? LINK_REMOVABLE : LINK_NONE;
}

void remove_link(const std::string& link, LinkKind kind) {
    if (kind != LINK_NONE) unlink(link.c_str());
}

bool make_sparse_file(const std::string& path, uint64_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = ftruncate(fd, (off_t)size) == 0;
    close(fd);
    return ok;
}

#endif

bool pins_work() {
    static int known = -1;
    if (known < 0) {
        TempDir dir("pin");
        std::string f = dir / "probe";
        write_file(f, "x");
        Pin p;
        known = pin(f, &p) ? 1 : 0;
        unpin(&p);
    }
    return known == 1;
}

}  // namespace kt
