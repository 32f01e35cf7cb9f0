#include "session/session.h"

#include <stdio.h>
#include <string.h>

#include "builder/reference.h"
#include "formats/disc/cue.h"

// --- path policy ---

size_t path_length_for(FrontEnd front, const char* path) {
    if (!path) return 0;
    size_t bytes = strlen(path);
    if (front == FRONT_CLI) return bytes;
    // UTF-16 units: one per character, two for one beyond the BMP (a lead
    // byte 0xF0 to 0xF7). Continuation bytes count nothing; a stray one
    // becomes one replacement character, which a lead byte before it would
    // have counted already, so ill-formed text is counted at most short by
    // what a conversion would replace anyway.
    size_t units = 0;
    for (size_t i = 0; i < bytes; ++i) {
        unsigned char c = (unsigned char)path[i];
        if ((c & 0xC0) == 0x80) continue;
        units += c >= 0xF0 && c <= 0xF7 ? 2 : 1;
    }
    return units;
}

int path_fits(FrontEnd front, const char* path) {
    size_t limit = front == FRONT_CLI ? (size_t)CLI_PATH_BYTES : (size_t)WIZARD_PATH_UNITS;
    return path_length_for(front, path) <= limit;
}

void format_path_too_long(FrontEnd front, char* out, size_t capacity, const char* what) {
    if (!out || !capacity) return;
    if (front == FRONT_CLI)
        snprintf(out, capacity, "value too long for %s", what ? what : "");
    else
        snprintf(out, capacity, "%s is longer than %d characters, so it cannot be used. Move it or choose one "
                 "with a shorter path.", what ? what : "", (int)WIZARD_PATH_UNITS);
}

// --- the disc image and its cue sheet ---

// 1 when path's text from its last '.' is want (lower case), ignoring
// ASCII case.
static int has_extension(const char* path, const char* want) {
    const char* dot = path ? strrchr(path, '.') : nullptr;
    size_t length = strlen(want);
    if (!dot || strlen(dot) != length) return 0;
    for (size_t i = 0; i < length; ++i) {
        char c = dot[i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != want[i]) return 0;
    }
    return 1;
}

int has_cue_extension(const char* path) { return has_extension(path, ".cue"); }

// --- a file handed over whole ---

int game_of_input_file(const char* path, GameKind* game) {
    static const struct {
        const char* extension;
        GameKind game;
    } kinds[] = {{".bin", GAME_BOSS_RALLY},     {".cue", GAME_BOSS_RALLY},     {".z64", GAME_TOP_GEAR_RALLY},
                 {".v64", GAME_TOP_GEAR_RALLY}, {".n64", GAME_TOP_GEAR_RALLY}};
    for (const auto& kind : kinds)
        if (has_extension(path, kind.extension)) {
            *game = kind.game;
            return 1;
        }
    return 0;
}

// The cue sheet's name beside a disc image: the path cut at its last '.',
// plus ".cue". 0 when that does not fit out.
static int cue_beside(const char* image, char* out, size_t capacity) {
    const char* dot = strrchr(image, '.');
    size_t keep = dot ? (size_t)(dot - image) : strlen(image);
    if (keep + 5 > capacity) return 0;
    memcpy(out, image, keep);
    memcpy(out + keep, ".cue", 5);
    return 1;
}

void pair_disc_file(FrontEnd front, const char* path, int as_sheet, DiscPairing* out) {
    memset(out, 0, sizeof *out);
    out->is_sheet = as_sheet || has_cue_extension(path);
    char partner[PATH_CAPACITY];
    int found;
    if (out->is_sheet) {
        // The sheet's folder (below 1024 bytes) joined with its FILE name
        // (below 1024 bytes) always fits PATH_CAPACITY: never cut here.
        found = find_bin_for_cue(path, partner, sizeof partner);
    } else {
        found = cue_beside(path, partner, sizeof partner) && path_exists(partner);
    }
    if (!found) return;
    out->partner = path_fits(front, partner) ? PARTNER_FOUND : PARTNER_TOO_LONG;
    memcpy(out->partner_path, partner, strlen(partner) + 1);
}

// --- checks ---

const char* expected_md5(GameInput input) {
    const ReferenceDigests* table = reference_digests();
    switch (input) {
    case INPUT_DISC_IMAGE: return table->disc_image;
    case INPUT_CUE_SHEET: return table->cue_sheet;
    default: return table->cartridge_rom;
    }
}

int check_game_input(GameInput input, const char* path, FileCheck* check, ProgressFn progress,
                     uint64_t progress_user, const CancelFlag* cancel) {
    switch (input) {
    case INPUT_DISC_IMAGE: return check_disc_image(path, check, progress, progress_user, cancel);
    case INPUT_CUE_SHEET: return check_cue_sheet(path, check, cancel);
    default: return check_cartridge_rom(path, check, progress, progress_user, cancel);
    }
}

const char* verdict_file_name(FrontEnd front, const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || (front == FRONT_CLI && *p == '/')) name = p + 1;
    return name;
}

void format_verdict(FrontEnd front, char* out, size_t capacity, const char* path, const FileCheck* check) {
    const char* newline = front == FRONT_CLI ? "\n" : "\r\n";
    const char* mark = check->ok ? "\xE2\x9C\x93 matches" : "\xE2\x9C\x97 does not match";
    const char* end = front == FRONT_CLI ? newline : "";
    if (check->note[0])
        snprintf(out, capacity, "%s%sYour file's MD5  %s  %s%s%s%s", verdict_file_name(front, path), newline,
                 check->md5_hex, mark, newline, check->note, end);
    else
        snprintf(out, capacity, "%s%sYour file's MD5  %s  %s%s", verdict_file_name(front, path), newline,
                 check->md5_hex, mark, end);
}

// --- the destination ---

static const char FOREIGN_FOLDER[] =
    "%s already exists and was not made by Kelvorn, so it will not be replaced. Move it away or choose another "
    "folder.";
static const char SAVED_GAMES[] =
    "Your saved games are kept; they live in your AppData folder, not in the game's.";

DestinationAction word_destination(FrontEnd front, const DestinationProbe* probe, int replace, char* out,
                                   size_t capacity) {
    if (capacity) out[0] = 0;
    switch (probe->state) {
    case DEST_INPUT_INSIDE: {
        if (front == FRONT_WIZARD) {
            format_input_inside(out, capacity, probe->input, probe->folder);
        } else {
            int used = snprintf(out, capacity, "kelvorn-cli: ");
            if (used > 0 && (size_t)used < capacity)
                format_input_inside(out + used, capacity - (size_t)used, probe->input, probe->folder);
        }
        return DEST_REFUSED;
    }
    case DEST_FOREIGN:
        snprintf(out, capacity, FOREIGN_FOLDER, probe->folder);
        return DEST_REFUSED;
    case DEST_EARLIER_BUILD:
        if (front == FRONT_WIZARD) {
            snprintf(out, capacity, "An earlier build is at %s.\r\n\r\nReplace it? %s", probe->folder, SAVED_GAMES);
            return DEST_CONFIRM;
        }
        if (replace) return DEST_GO;
        snprintf(out, capacity, "An earlier build is at %s.\nRun again with --replace to replace it. %s",
                 probe->folder, SAVED_GAMES);
        return DEST_REFUSED;
    default: return DEST_GO;
    }
}
