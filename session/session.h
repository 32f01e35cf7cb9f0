// What both front ends decide and say alike: how long a path may be, how a
// disc image and its cue sheet find each other, which check an input gets
// and what digest it is held against, how a verdict reads, and what a probe
// of the destination means and how it is worded. The wizard and the command
// line word some of it differently (a dialog, a console line); both
// wordings live here, side by side, so that a sentence or a rule changes in
// one place.
//
// Paths are UTF-8. Nothing here keeps state between calls; every function
// may run on any thread.
#ifndef KELVORN_SESSION_SESSION_H
#define KELVORN_SESSION_SESSION_H

#include <stddef.h>
#include <stdint.h>

#include "base/paths.h"
#include "base/progress.h"
#include "builder/build.h"
#include "builder/checks.h"
#include "builder/staging.h"

// The front end a text is worded for.
enum FrontEnd : int { FRONT_WIZARD = 0, FRONT_CLI = 1 };

// --- path policy ---
//
// A path longer than its front end keeps is refused, never cut: a cut path
// names another file. The wizard keeps paths as UTF-16 of at most 259 units
// (Windows' MAX_PATH less its terminator), the command line as UTF-8 of at
// most 1023 bytes.
enum { WIZARD_PATH_UNITS = 259, CLI_PATH_BYTES = 1023 };

// path's length as front counts it: UTF-16 units for the wizard (a 4-byte
// UTF-8 sequence is two, any other sequence or stray byte one), bytes for
// the command line. null counts 0.
size_t path_length_for(FrontEnd front, const char* path);
// 1 when front takes path whole (at most its limit), 0 when it is refused.
int path_fits(FrontEnd front, const char* path);
// The refusal of a path that does not fit, one line into out (snprintf
// contract). what: the command line's option ("--rom"), or the wizard's
// path itself.
void format_path_too_long(FrontEnd front, char* out, size_t capacity, const char* what);

// --- the disc image and its cue sheet ---

// 1 when path's text from its last '.' is ".cue", ignoring ASCII case.
int has_cue_extension(const char* path);

// --- a file handed over whole ---

// The game whose input path is, by its extension alone (the text from the
// last '.', any ASCII case): .bin and .cue are Boss Rally's, .z64, .v64 and
// .n64 Top Gear Rally's. 1 and *game set when it is one of these; 0 and
// *game untouched otherwise (no '.', another extension, a '.' only in a
// folder name). This is how a file dropped on the wizard, or named without
// an option on its command line, picks its game; whether it is a file at
// all is the caller's question.
int game_of_input_file(const char* path, GameKind* game);

enum PartnerState : int {
    PARTNER_NONE = 0,      // nothing of the name exists (or the sheet names no image)
    PARTNER_FOUND = 1,     // partner holds it
    PARTNER_TOO_LONG = 2,  // it exists, but its path is longer than front takes
};

// What a disc file named by the user is taken as, and its partner.
struct DiscPairing {
    int is_sheet;                  // 1: the named file is the cue sheet
    PartnerState partner;
    char partner_path[PATH_CAPACITY];  // the other file; "" for PARTNER_NONE
};

// Pairs a disc file named as the disc image (as_sheet 0) or as the cue sheet
// (as_sheet 1). A name ending in ".cue" is the cue sheet whichever way it was
// named. A cue sheet's partner is the disc image its FILE line names, beside
// it, when that is a file of at least one byte (find_bin_for_cue). A disc
// image's partner is its path cut at the last '.' (wherever it is, a folder
// name included) plus ".cue", when anything exists under that name, a folder
// too: its check then refuses it. A partner whose path front would not take
// whole is PARTNER_TOO_LONG, its path given for the refusal.
void pair_disc_file(FrontEnd front, const char* path, int as_sheet, DiscPairing* out);

// --- checks ---

// The inputs of both games, in the order their checks run.
enum GameInput : int { INPUT_DISC_IMAGE = 0, INPUT_CUE_SHEET = 1, INPUT_CARTRIDGE_ROM = 2, INPUT_COUNT = 3 };

// The reference digest input's check holds it against (the table in force:
// the retail one, or the testing build's).
const char* expected_md5(GameInput input);
// Runs input's check on path into *check; returns check->ok. progress and
// its user value reach the disc image's and the ROM's checks (the cue
// sheet's is too small to report); cancel may be null.
int check_game_input(GameInput input, const char* path, FileCheck* check, ProgressFn progress,
                     uint64_t progress_user, const CancelFlag* cancel);

// The file name a verdict shows: for the wizard the text after the last
// backslash, for the command line after the last '\\' or '/'; the whole
// path when it has none.
const char* verdict_file_name(FrontEnd front, const char* path);
// A checked file's verdict: the file name; "Your file's MD5", two spaces,
// the digest, two spaces and the mark ("✓ matches" or "✗ does not match",
// after the check's verdict, not the digest's equality); the note on a
// third line when there is one. The wizard's label joins the lines with
// "\r\n"; the command line's text ends every line with "\n".
void format_verdict(FrontEnd front, char* out, size_t capacity, const char* path, const FileCheck* check);

// --- the destination ---

enum DestinationAction : int {
    DEST_GO = 0,       // build
    DEST_REFUSED = 1,  // tell the user and build nothing
    DEST_CONFIRM = 2,  // the wizard: ask before replacing the earlier build
};
// Room for a destination text: two paths and the words.
enum { DESTINATION_TEXT_CAPACITY = 2 * PATH_CAPACITY + 512 };

// What front does with a probed destination, and what it says (into out,
// "" for DEST_GO): an input inside a folder the build would remove and a
// foreign folder are refused; an earlier build is asked about in the
// wizard, and on the command line refused unless replace (--replace) was
// given. The wizard's text is a message box's, the command line's a line
// for standard error without its final newline.
DestinationAction word_destination(FrontEnd front, const DestinationProbe* probe, int replace, char* out,
                                   size_t capacity);

#endif
