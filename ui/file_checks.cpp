// File checks on worker threads: one thread per chosen file, each owning its
// FileCheckJob until it posts WM_APP_CHECK_DONE.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "ui/wizard.h"

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
    check_game_input((GameInput)job->slot, path, &job->check, nullptr, 0, nullptr);
    if (!post_result(WM_APP_CHECK_DONE, (LPARAM)job)) free(job);
    return 0;
}

// Shows the verdict of a current result for job's slot.
static void show_verdict(const FileCheckJob* job) {
    InputSlot slot = job->slot;
    g_wizard.verdict_good[slot] = job->check.ok;
    g_wizard.verdict_stamp[slot] = job->check.stamp;
    if (slot == SLOT_BIN) g_wizard.verdict_audio = job->check.audio;
    char path[UI_PATH_UTF8];
    to_utf8(job->path, path, sizeof path);
    char verdict[UI_PATH_UTF8 + 512];
    format_verdict(FRONT_WIZARD, verdict, sizeof verdict, path, &job->check);
    wchar_t text[1024];
    to_utf16(verdict, text, 1024);
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

void start_file_check(InputSlot slot, const wchar_t* chosen) {
    // Every caller hands a path the wizard keeps whole; one that is not is
    // refused here too rather than checked cut. (chosen may be the slot's
    // own input_path.)
    wchar_t path[UI_PATH_UNITS];
    if (!copy_path(path, chosen)) {
        refuse_long_path(chosen);
        return;
    }
    FileCheckJob* job = (FileCheckJob*)calloc(1, sizeof(FileCheckJob));
    if (job) {
        job->slot = slot;
        copy_path(job->path, path);
    }
    copy_path(g_wizard.input_path[slot], path);
    g_wizard.verdict_good[slot] = 0;
    memset(&g_wizard.verdict_stamp[slot], 0, sizeof g_wizard.verdict_stamp[slot]);
    if (slot == SLOT_BIN) memset(&g_wizard.verdict_audio, 0, sizeof g_wizard.verdict_audio);
    if (g_wizard.verdict_label[slot]) {
        char utf8[UI_PATH_UTF8];
        to_utf8(g_wizard.input_path[slot], utf8, sizeof utf8);
        char checking[UI_PATH_UTF8 + 32];
        snprintf(checking, sizeof checking, "%s: checking...", verdict_file_name(FRONT_WIZARD, utf8));
        wchar_t text[292];
        to_utf16(checking, text, 292);
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
