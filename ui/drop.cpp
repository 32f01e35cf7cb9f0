// Files handed to the wizard whole: dropped on its window, or named on its
// command line without an option (Explorer's "Open with", or a file dropped
// on the program's icon). They are taken the way the Choose... buttons take
// them; what cannot be taken is told in a note on the page.
#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>
#include <wchar.h>

#include "base/paths.h"
#include "ui/wizard.h"

void show_drop_note(const wchar_t* text) {
    if (!g_wizard.drop_note) {
        // Beside the buttons at the foot of the page; the result page's
        // buttons reach further left, so there it sits above them.
        int result = g_wizard.page == PAGE_RESULT;
        g_wizard.drop_note = create_control(L"STATIC", L"", SS_NOPREFIX, 24, result ? 300 : 338, result ? 540 : 316,
                                            44, IDC_DROP_NOTE, g_wizard.font_normal);
    }
    SetWindowTextW(g_wizard.drop_note, text);
}

// The text after the last backslash, or the whole path.
static const wchar_t* file_name_of(const wchar_t* path) {
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

// 1 when slot of the shown page already holds path, taken earlier in the
// same drop (a cue sheet dropped with its image, which found it already).
static int already_taken(const wchar_t* path) {
    for (int slot = 0; slot < SLOT_COUNT; ++slot)
        if (wcscmp(g_wizard.input_path[slot], path) == 0) return 1;
    return 0;
}

// Why a file was not taken, the first reason met wins the note.
enum Refusal { REFUSED_NONE, REFUSED_EXTENSION, REFUSED_MISSING, REFUSED_NOT_FILE, REFUSED_OTHER_GAME };

int take_handed_files(const wchar_t* const* paths, int count, int from_command_line) {
    if (count <= 0) return 1;
    if (g_wizard.page == PAGE_BUILDING) {
        show_drop_note(L"Kelvorn is building; drop the file again when it is done.");
        return 0;
    }
    // The first file with a game's extension picks the game.
    Refusal refusal = REFUSED_NONE;
    const wchar_t* refused_name = L"";
    int chosen = -1;
    int first_taken = -1;
    for (int i = 0; i < count; ++i) {
        char utf8[PATH_CAPACITY];
        to_utf8(paths[i], utf8, sizeof utf8);
        GameKind game;
        Refusal why = REFUSED_NONE;
        if (!game_of_input_file(utf8, &game))
            why = REFUSED_EXTENSION;
        else if (!is_regular_file(utf8))
            why = path_exists(utf8) ? REFUSED_NOT_FILE : REFUSED_MISSING;
        else if (chosen >= 0 && (int)game != chosen)
            why = REFUSED_OTHER_GAME;
        if (why != REFUSED_NONE) {
            if (refusal == REFUSED_NONE) {
                refusal = why;
                refused_name = file_name_of(paths[i]);
            }
            continue;
        }
        if (chosen < 0) {
            chosen = (int)game;
            first_taken = i;
        }
    }

    int switched = 0;
    if (chosen >= 0) {
        switched = g_wizard.page == PAGE_FILES && (int)g_wizard.game != chosen;
        g_wizard.game = (GameKind)chosen;
        if (g_wizard.page != PAGE_FILES || switched) show_files_page();
        int rom_taken = 0;
        for (int i = first_taken; i < count; ++i) {
            char utf8[PATH_CAPACITY];
            to_utf8(paths[i], utf8, sizeof utf8);
            GameKind game;
            if (!game_of_input_file(utf8, &game) || (int)game != chosen || !is_regular_file(utf8)) continue;
            if (game == GAME_TOP_GEAR_RALLY) {
                // One ROM fills the row; a second in the same drop would
                // only make the first one's check stale.
                if (rom_taken) continue;
                rom_taken = 1;
                start_file_check(SLOT_ROM, paths[i]);
            } else if (i == first_taken || !already_taken(paths[i])) {
                // Either disc file finds the other, so whichever button it
                // would have come through, it comes through the image's.
                accept_disc_file(0, paths[i]);
            }
        }
        if (switched && refusal == REFUSED_NONE) {
            wchar_t text[UI_MESSAGE_UNITS];
            _snwprintf(text, UI_MESSAGE_UNITS, L"%ls is a %hs file, so %hs is chosen now.",
                       file_name_of(paths[first_taken]), game_display_name((GameKind)chosen),
                       game_display_name((GameKind)chosen));
            text[UI_MESSAGE_UNITS - 1] = 0;
            show_drop_note(text);
        }
    }
    if (refusal == REFUSED_NONE) {
        // A note of an earlier drop on this page no longer holds.
        if (!switched && g_wizard.drop_note) SetWindowTextW(g_wizard.drop_note, L"");
        return 1;
    }

    wchar_t text[UI_MESSAGE_UNITS];
    switch (refusal) {
    case REFUSED_EXTENSION:
        wcscpy(text, from_command_line ? L"Only .bin, .cue, .z64, .v64 and .n64 files can be opened with Kelvorn."
                                       : L"Only .bin, .cue, .z64, .v64 and .n64 files can be dropped here.");
        break;
    case REFUSED_MISSING:
        _snwprintf(text, UI_MESSAGE_UNITS, L"%ls could not be found.", refused_name);
        break;
    case REFUSED_NOT_FILE:
        _snwprintf(text, UI_MESSAGE_UNITS, L"%ls is not a file.", refused_name);
        break;
    default:
        _snwprintf(text, UI_MESSAGE_UNITS, L"Only the %hs files were taken: %ls is another game's.",
                   game_display_name((GameKind)chosen), refused_name);
        break;
    }
    text[UI_MESSAGE_UNITS - 1] = 0;
    show_drop_note(text);
    return 0;
}

void on_drop_files(HDROP drop) {
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    // The names as the drop holds them, each whole: one too long for the
    // wizard is refused by the row it would fill, never cut here.
    wchar_t** paths = count ? (wchar_t**)calloc(count, sizeof(wchar_t*)) : nullptr;
    int taken = 0;
    for (UINT i = 0; paths && i < count; ++i) {
        UINT units = DragQueryFileW(drop, i, nullptr, 0);
        wchar_t* path = (wchar_t*)malloc(((size_t)units + 1) * sizeof(wchar_t));
        if (!path) continue;
        if (DragQueryFileW(drop, i, path, units + 1) != units) {
            free(path);
            continue;
        }
        paths[taken++] = path;
    }
    DragFinish(drop);
    if (taken) take_handed_files(paths, taken, 0);
    for (int i = 0; i < taken; ++i) free(paths[i]);
    free(paths);
}

int open_command_line_files(void) {
    const wchar_t* paths[UI_OPENED_FILES];
    for (int i = 0; i < g_wizard.opened_count; ++i) paths[i] = g_wizard.opened_path[i];
    return take_handed_files(paths, g_wizard.opened_count, 1);
}
