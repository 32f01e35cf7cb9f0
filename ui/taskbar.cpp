#include "ui/taskbar.h"

#include <objbase.h>
#include <shobjidl.h>

#include "ui/ui_observe.h"

static ITaskbarList3* g_taskbar;
static HWND g_window;
// What the button shows, to give it back to a taskbar taken anew.
static TBPFLAG g_state = TBPF_NOPROGRESS;
static int g_value;

// Puts the state on the taskbar's button, when there is a taskbar.
static void apply(void) {
    if (!g_taskbar) return;
    g_taskbar->SetProgressState(g_window, g_state);
    if (g_state != TBPF_NOPROGRESS) g_taskbar->SetProgressValue(g_window, (ULONGLONG)g_value, 1000);
}

UINT taskbar_button_created_message(void) {
    static UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
    return message;
}

void taskbar_attach(HWND window) {
    g_window = window;
    if (g_taskbar) {
        g_taskbar->Release();
        g_taskbar = nullptr;
    }
    if (ui_observe_taskbar_missing()) return;
    ITaskbarList3* taskbar = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                (void**)&taskbar)) ||
        !taskbar)
        return;
    if (FAILED(taskbar->HrInit())) {
        taskbar->Release();
        return;
    }
    g_taskbar = taskbar;
    apply();
}

// The bar's own scale: 0 to 1000.
static void set_state(TBPFLAG state, int value) {
    ui_observe_taskbar(state == TBPF_NOPROGRESS ? "none" : state == TBPF_ERROR ? "error" : "normal", value);
    g_state = state;
    g_value = value;
    apply();
}

void taskbar_progress(double fraction) {
    // The value the bar is given (PBM_SETPOS), held to the bar's range.
    int value = (int)(fraction * 1000);
    set_state(TBPF_NORMAL, value < 0 ? 0 : value > 1000 ? 1000 : value);
}

void taskbar_error(void) { set_state(TBPF_ERROR, 1000); }

void taskbar_clear(void) {
    // Every page but the build's clears it; only a shown state is news.
    if (g_state != TBPF_NOPROGRESS) set_state(TBPF_NOPROGRESS, 0);
}

void taskbar_flash_if_background(HWND window) {
    if (GetForegroundWindow() == window) return;
    ui_observe_taskbar("flash", 0);
    FLASHWINFO flash = {};
    flash.cbSize = sizeof flash;
    flash.hwnd = window;
    flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
    FlashWindowEx(&flash);
}
