// The game files page: one row per input of the chosen game, the partner
// search between a disc image and its cue sheet, the verdict colours and the
// Build button's rule. The checks themselves run in file_checks.cpp.
#include <windows.h>
#include <wchar.h>

#include "ui/taskbar.h"
#include "ui/wizard.h"

HWND add_file_row(InputSlot slot, const wchar_t* label, const char* expected_md5, int y, int choose_id) {
    wchar_t expected[64];
    _snwprintf(expected, 64, L"Expected MD5  %hs", expected_md5);
    expected[63] = 0;
    create_control(L"STATIC", label, SS_NOPREFIX, 24, y, 300, 22, 0, g_wizard.font_bold);
    create_control(L"BUTTON", L"Choose...", WS_TABSTOP, 464, y - 3, 100, 28, choose_id, g_wizard.font_normal);
    create_control(L"STATIC", expected, SS_NOPREFIX, 24, y + 24, 540, 18, 0, g_wizard.font_mono);
    HWND verdict = create_control(L"STATIC", g_wizard.input_path[slot][0] ? L"" : L"No file chosen",
                                  SS_NOPREFIX, 24, y + 44, 540, 54, 0, g_wizard.font_mono);
    g_wizard.verdict_label[slot] = verdict;
    return verdict;
}

void show_files_page(void) {
    // The button shows a build only while its pages do.
    taskbar_clear();
    g_wizard.page = PAGE_FILES;
    clear_page();
    if (g_wizard.game == GAME_BOSS_RALLY) {
        create_control(L"STATIC", L"Your copy of Boss Rally", SS_NOPREFIX, 24, 20, 540, 32, 0,
                       g_wizard.font_title);
        create_control(L"STATIC",
                       L"The game's data is copyrighted, so the builder cannot include it. Provide a BIN/CUE "
                       L"image of the retail Boss Rally CD (the data track and the 12 music tracks). Choosing "
                       L"either file finds the other beside it.",
                       SS_NOPREFIX, 24, 58, 540, 56, 0, g_wizard.font_normal);
        add_file_row(SLOT_BIN, L"Disc image (.bin)", expected_md5(INPUT_DISC_IMAGE), 122, IDC_CHOOSE_BIN);
        add_file_row(SLOT_CUE, L"Cue sheet (.cue)", expected_md5(INPUT_CUE_SHEET), 228, IDC_CHOOSE_CUE);
    } else {
        create_control(L"STATIC", L"Your copy of Top Gear Rally", SS_NOPREFIX, 24, 20, 540, 32, 0,
                       g_wizard.font_title);
        create_control(L"STATIC",
                       L"The game's data is copyrighted, so the builder cannot include it. Provide a ROM of "
                       L"the Top Gear Rally (USA) cartridge, in .z64, .v64 or .n64 byte order.",
                       SS_NOPREFIX, 24, 58, 540, 56, 0, g_wizard.font_normal);
        add_file_row(SLOT_ROM, L"Cartridge ROM", expected_md5(INPUT_CARTRIDGE_ROM), 122, IDC_CHOOSE_ROM);
    }
    create_control(L"BUTTON", L"Back", WS_TABSTOP, 352, 352, 100, 28, IDC_BACK, g_wizard.font_normal);
    g_wizard.build_button = create_control(L"BUTTON", L"Build", WS_TABSTOP | BS_DEFPUSHBUTTON, 464, 352, 100,
                                           28, IDC_BUILD, g_wizard.font_normal);
    static const InputSlot in_order[] = {SLOT_BIN, SLOT_CUE, SLOT_ROM};
    for (InputSlot slot : in_order)
        if (g_wizard.input_path[slot][0] && g_wizard.verdict_label[slot])
            start_file_check(slot, g_wizard.input_path[slot]);
    update_build_button();
    focus_page();
}

void accept_disc_file(int cue_button, const wchar_t* path) {
    char chosen[UI_PATH_UTF8];
    to_utf8(path, chosen, sizeof chosen);
    // A file chosen as the cue sheet is one, whatever its name; only a name
    // ending in ".cue" is worth a search for its image.
    if (cue_button && !has_cue_extension(chosen)) {
        start_file_check(SLOT_CUE, path);
        return;
    }
    DiscPairing pairing;
    pair_disc_file(FRONT_WIZARD, chosen, cue_button, &pairing);
    start_file_check(pairing.is_sheet ? SLOT_CUE : SLOT_BIN, path);
    if (pairing.partner == PARTNER_NONE) return;
    // Bytes of UTF-8 never make more UTF-16 units: the partner converts whole.
    wchar_t whole[PATH_CAPACITY];
    wchar_t partner[UI_PATH_UNITS];
    to_utf16(pairing.partner_path, whole, PATH_CAPACITY);
    if (pairing.partner == PARTNER_FOUND && copy_path(partner, whole))
        start_file_check(pairing.is_sheet ? SLOT_BIN : SLOT_CUE, partner);
    else
        refuse_long_path(whole);
}

void on_choose_file(int id) {
    wchar_t path[UI_PATH_UNITS];
    path[0] = 0;
    if (id == IDC_CHOOSE_BIN) {
        if (choose_path(0, path, L"Disc image (*.bin)", L"*.bin")) accept_disc_file(0, path);
    } else if (id == IDC_CHOOSE_CUE) {
        if (choose_path(0, path, L"Cue sheet (*.cue)", L"*.cue")) accept_disc_file(1, path);
    } else if (id == IDC_CHOOSE_ROM) {
        if (choose_path(0, path, L"N64 ROM (*.z64;*.v64;*.n64)", L"*.z64;*.v64;*.n64"))
            start_file_check(SLOT_ROM, path);
    }
}

static int required_inputs_good(void) {
    if (g_wizard.game == GAME_TOP_GEAR_RALLY) return g_wizard.verdict_good[SLOT_ROM] == 1;
    return g_wizard.verdict_good[SLOT_BIN] == 1 && g_wizard.verdict_good[SLOT_CUE] == 1;
}

void update_build_button(void) {
    if (g_wizard.build_button)
        EnableWindow(g_wizard.build_button, required_inputs_good() && g_wizard.pending_checks == 0);
}

LRESULT on_ctlcolorstatic(HDC device_context, HWND control) {
    SetBkMode(device_context, TRANSPARENT);
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (control == g_wizard.verdict_label[slot] && g_wizard.input_path[slot][0] &&
            g_wizard.pending_checks == 0)
            SetTextColor(device_context, g_wizard.verdict_good[slot] ? RGB(0, 128, 0) : RGB(192, 0, 0));
    }
    return (LRESULT)GetSysColorBrush(COLOR_WINDOW);
}
