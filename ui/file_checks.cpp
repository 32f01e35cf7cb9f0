// File checks on worker threads: one thread per chosen file, each owning its
// FileCheckJob until it posts WM_APP_CHECK_DONE.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "ui/wizard.h"

// The file name: the text after the last backslash, or the whole path.
static const wchar_t* file_name_of(const wchar_t* path) {
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

// Repaints every verdict label: their colours depend on whether any check is
// pending, not only on their own slot.
static void redraw_verdicts(void) {
    for (int slot = 0; slot < SLOT_COUNT; ++slot)
        if (g_wizard.verdict_label[slot]) InvalidateRect(g_wizard.verdict_label[slot], nullptr, TRUE);
}

static void set_pending(int pending) {
    int was_zero = g_wizard.pending_checks == 0;
    g_wizard.pending_checks = pending;
    if (was_zero != (pending == 0)) redraw_verdicts();
}

DWORD WINAPI check_thread(void* parameter) {
    FileCheckJob* job = (FileCheckJob*)parameter;
    char path[UI_PATH_UTF8];
    to_utf8(job->path, path, sizeof path);
    if (job->slot == SLOT_CUE)
        check_cue_sheet(path, &job->check);
    else if (job->slot == SLOT_BIN)
        check_disc_image(path, &job->check, nullptr, 0, nullptr);
    else
        check_cartridge_rom(path, &job->check, nullptr, 0);
    if (!post_result(WM_APP_CHECK_DONE, (LPARAM)job)) free(job);
    return 0;
}

// Shows the verdict of a current result for job's slot.
static void show_verdict(const FileCheckJob* job) {
    int slot = job->slot;
    g_wizard.verdict_good[slot] = job->check.ok;
    g_wizard.verdict_stamp[slot] = job->check.stamp;
    wchar_t note[256];
    to_utf16(job->check.note, note, 256);
    wchar_t text[1024];
    _snwprintf(text, 1024, L"%ls\r\nYour file's MD5  %hs  %ls%ls%ls", file_name_of(job->path), job->check.md5_hex,
               job->check.ok ? L"\x2713 matches" : L"\x2717 does not match", note[0] ? L"\r\n" : L"", note);
    text[1023] = 0;
    if (g_wizard.verdict_label[slot]) {
        SetWindowTextW(g_wizard.verdict_label[slot], text);
        InvalidateRect(g_wizard.verdict_label[slot], nullptr, TRUE);
    }
}

// A check has reported: one fewer pending; the verdict shows only when the
// slot still holds the checked file (a later choice makes the result stale).
static void finish_check(const FileCheckJob* job) {
    set_pending(g_wizard.pending_checks - 1);
    if (wcscmp(job->path, g_wizard.input_path[job->slot]) == 0) show_verdict(job);
    update_build_button();
}

void start_file_check(InputSlot slot, const wchar_t* path) {
    FileCheckJob* job = (FileCheckJob*)calloc(1, sizeof(FileCheckJob));
    if (job) {
        job->slot = slot;
        copy_path(job->path, path);
    }
    copy_path(g_wizard.input_path[slot], path);
    g_wizard.verdict_good[slot] = 0;
    memset(&g_wizard.verdict_stamp[slot], 0, sizeof g_wizard.verdict_stamp[slot]);
    if (g_wizard.verdict_label[slot]) {
        wchar_t text[292];
        _snwprintf(text, 292, L"%ls: checking...", file_name_of(g_wizard.input_path[slot]));
        text[291] = 0;
        SetWindowTextW(g_wizard.verdict_label[slot], text);
    }
    set_pending(g_wizard.pending_checks + 1);
    update_build_button();

    HANDLE thread = job ? CreateThread(nullptr, 0, check_thread, job, 0, nullptr) : nullptr;
    if (thread) {
        CloseHandle(thread);
        return;
    }
    // The check cannot run: report a failed check at once, the way a finished
    // one reports, so that the count of pending checks falls again and Build
    // is not left disabled for good.
    if (!job) {
        FileCheckJob failed;
        memset(&failed, 0, sizeof failed);
        failed.slot = slot;
        copy_path(failed.path, path);
        snprintf(failed.check.note, sizeof failed.check.note, "The check could not start: out of memory.");
        finish_check(&failed);
        return;
    }
    snprintf(job->check.note, sizeof job->check.note, "The check could not start (error %lu).",
             (unsigned long)GetLastError());
    finish_check(job);
    free(job);
}

void on_check_done(LPARAM parameter) {
    FileCheckJob* job = (FileCheckJob*)parameter;
    finish_check(job);
    free(job);
}
