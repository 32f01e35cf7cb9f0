// kelvorn-cli: the same build as the wizard, without a window. Checks every
// input, probes the destination, then runs the build with a progress line.
//
// Exit codes: 0 built, 1 build failed, 2 usage error, 3 an input was
// rejected by its check, 4 destination refused or needs --replace,
// 130 cancelled.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "builder/build.h"
#include "builder/checks.h"
#include "builder/staging.h"
#include "cli/cli.h"
#include "cli/cli_hold.h"
#include "cli/cli_platform.h"
#include "base/utf8.h"
#include "formats/flac/flac.h"
#include "session/session.h"
#include "session/space.h"

enum { EXIT_BUILT = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_REJECTED = 3, EXIT_DESTINATION = 4,
       EXIT_CANCELLED = 130 };

// Room for a path given on the command line: the longest the session's path
// policy lets the command line take. A longer value is refused, not cut.
enum { ARG_CAPACITY = CLI_PATH_BYTES + 1 };

struct CliOptions {
    GameKind game;
    char dest[ARG_CAPACITY];
    char bin[ARG_CAPACITY];
    char cue[ARG_CAPACITY];
    char rom[ARG_CAPACITY];
    int replace;
    int no_space_check;
    int help;
    int threads;  // 0: the default
};

static const char usage_text[] =
    "Usage: kelvorn-cli [--game tgr] [--dest FOLDER] [--bin FILE] [--cue FILE] [--rom FILE] [--replace]\n"
    "                   [--threads N] [--no-space-check]\n"
    "\n"
    "Builds a game folder from your own copy of the game, as the Kelvorn wizard does.\n"
    "  --game NAME    \"tgr\" builds Top Gear Rally; anything else builds Boss Rally\n"
    "  --dest FOLDER  where the build folder goes (default: Documents\\Games on Windows,\n"
    "                 $HOME/Games elsewhere)\n"
    "  --bin FILE     Boss Rally: the raw disc image; its cue sheet is found beside it\n"
    "  --cue FILE     Boss Rally: the cue sheet; its disc image is found from it\n"
    "  --rom FILE     Top Gear Rally: the cartridge ROM (.z64, .v64 or .n64)\n"
    "  --replace      replace an earlier build made by Kelvorn\n"
    "  --threads N    encode the soundtrack on N threads, 1 to 64 (default: one per\n"
    "                 processor, at most 8)\n"
    "  --no-space-check\n"
    "                 build even when the destination seems to have too little free\n"
    "                 space for it\n"
    "  --help         show this text\n"
    "\n"
    "Exit codes: 0 built, 1 build failed, 2 usage error, 3 an input was rejected,\n"
    "4 destination refused or needs --replace, 130 cancelled.\n";

// printf into the console (cli_write); output longer than 8 KiB is cut.
// A file name is any bytes on POSIX: what is not UTF-8 goes out as U+FFFD,
// never raw, so that no name can garble the line or steer the terminal.
static void say_to(int to_stderr, const char* format, ...) KV_PRINTF(2, 3);
static void say_to(int to_stderr, const char* format, ...) {
    char text[8192], valid[3 * sizeof text];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    utf8_make_valid(text, valid, sizeof valid);
    cli_write(to_stderr, valid);
}
#define say(...) say_to(0, __VA_ARGS__)
#define say_error(...) say_to(1, __VA_ARGS__)

static int usage_error(const char* message, const char* detail) {
    say_error("kelvorn-cli: %s%s\nRun kelvorn-cli --help for usage.\n", message, detail ? detail : "");
    return EXIT_USAGE;
}

// A thread count: decimal digits only, 1 to FLAC_MAX_THREADS.
static int parse_threads(const char* text, int* out) {
    static_assert(FLAC_MAX_THREADS == 64, "the usage text names the limit");
    int value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return 0;
        value = value * 10 + (*p - '0');
        if (value > FLAC_MAX_THREADS) return 0;
    }
    if (value < 1) return 0;
    *out = value;
    return 1;
}

// Parses argv (UTF-8). Options and values are those of the window's command
// line, compared exactly; unlike the window, anything unknown is an error.
// Returns 0 on success, else the usage exit code after printing the reason.
static int parse_options(int argc, char** argv, CliOptions* options) {
    for (int i = 1; i < argc; ++i) {
        const char* token = argv[i];
        char* target = nullptr;
        if (strcmp(token, "--help") == 0 || strcmp(token, "-h") == 0) {
            options->help = 1;
            continue;
        }
        if (strcmp(token, "--replace") == 0) {
            options->replace = 1;
            continue;
        }
        if (strcmp(token, "--no-space-check") == 0) {
            options->no_space_check = 1;
            continue;
        }
        if (strcmp(token, "--build") == 0)
            return usage_error("unknown option --build", " (running kelvorn-cli is the build)");
        if (strcmp(token, "--game") == 0) {
            if (i + 1 >= argc) return usage_error("missing value for ", token);
            options->game = strcmp(argv[++i], "tgr") == 0 ? GAME_TOP_GEAR_RALLY : GAME_BOSS_RALLY;
            continue;
        }
        if (strcmp(token, "--threads") == 0) {
            if (i + 1 >= argc) return usage_error("missing value for ", token);
            if (!argv[i + 1][0]) return usage_error("empty value for ", token);
            if (!parse_threads(argv[++i], &options->threads))
                return usage_error("--threads takes a whole number from 1 to 64, not ", argv[i]);
            continue;
        }
        if (strcmp(token, "--dest") == 0) target = options->dest;
        else if (strcmp(token, "--bin") == 0) target = options->bin;
        else if (strcmp(token, "--cue") == 0) target = options->cue;
        else if (strcmp(token, "--rom") == 0) target = options->rom;
        else if (token[0] == '-') return usage_error("unknown option ", token);
        else return usage_error("unexpected argument ", token);
        if (i + 1 >= argc) return usage_error("missing value for ", token);
        const char* value = argv[++i];
        if (!value[0]) return usage_error("empty value for ", token);
        if (!path_fits(FRONT_CLI, value)) {
            char refusal[128];
            format_path_too_long(FRONT_CLI, refusal, sizeof refusal, token);
            return usage_error(refusal, nullptr);
        }
        memcpy(target, value, strlen(value) + 1);
    }
    return 0;
}

// --- progress display ---

struct ProgressView {
    int terminal;
    double started;
    double drawn_at;     // when the bar was last drawn
    double fraction;
    char status[256];
    int drawn;           // a bar line is on screen
};

static ProgressView view;
static CancelFlag interrupted;  // the cancel flag; Ctrl+C sets it

static void format_duration(double seconds, char* out, size_t capacity) {
    if (seconds < 0) seconds = 0;
    long s = (long)(seconds + 0.5);
    if (s >= 3600) snprintf(out, capacity, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    else snprintf(out, capacity, "%ld:%02ld", s / 60, s % 60);
}

// The terminal's width for the bar, less two columns: the terminal echoes
// Ctrl+C as "^C" at the cursor, which then stays on the bar's line.
static int bar_columns(void) {
    int columns = cli_terminal_columns() - 2;
    if (columns > CLI_BAR_MAX_COLUMNS) columns = CLI_BAR_MAX_COLUMNS;
    return columns;
}

static void draw_bar(double now) {
    double elapsed = now - view.started;
    char spent[32], left[32];
    format_duration(elapsed, spent, sizeof spent);
    // An estimate from the first percent on; before that it would be noise.
    if (view.fraction >= 0.01 && view.fraction < 1.0)
        format_duration(elapsed * (1.0 - view.fraction) / view.fraction, left, sizeof left);
    else if (view.fraction >= 1.0)
        snprintf(left, sizeof left, "0:00");
    else
        snprintf(left, sizeof left, "--:--");
    char line[CLI_BAR_MAX_COLUMNS * 4 + 8];
    int columns = bar_columns();
    cli_format_bar(line, sizeof line, columns, view.fraction, view.status, spent, left);
    say("\r%s", line);
    view.drawn = 1;
    view.drawn_at = now;
}

static void begin_view(const char* status) {
    memset(&view, 0, sizeof view);
    view.terminal = cli_stdout_is_terminal();
    view.started = cli_seconds();
    snprintf(view.status, sizeof view.status, "%s", status);
}

// The build's ProgressFn; also shows the disc image's digest on a terminal.
static void on_progress(uint64_t user, double fraction, const char* status) {
    (void)user;
    view.fraction = fraction;
    // As in the window: once a stop is asked for, the status says so and
    // the bar goes on moving until the build ends.
    if (is_cancelled(&interrupted)) status = "Stopping...";
    int changed = status && strcmp(status, view.status) != 0;
    if (status) snprintf(view.status, sizeof view.status, "%s", status);
    int hold = cli_hold_reached(fraction, view.status);
    if (view.terminal) {
        // The encoder reports every block: redraw at most ten times a second
        // unless there is news.
        double now = cli_seconds();
        if (changed || hold || fraction >= 1.0 || !view.drawn || now - view.drawn_at >= 0.1) draw_bar(now);
    } else if (changed) {
        say("%3d%%  %s\n", (int)(fraction * 100.0), view.status);
    }
    if (hold) cli_hold_wait(&interrupted);
}

// Ends the bar's line so that what follows starts on a line of its own;
// erase wipes the bar instead (a check's bar, replaced by its verdict).
static void end_view(int erase) {
    if (view.terminal && view.drawn) {
        if (erase) {
            int columns = bar_columns();
            if (columns > 1) say("\r%*s\r", columns - 1, "");
        } else {
            say("\n");
        }
    }
    view.drawn = 0;
}

// --- checks ---

// Prints a verdict as the files page words it.
static void print_verdict(const char* path, const FileCheck* check) {
    char text[PATH_CAPACITY + 512];
    format_verdict(FRONT_CLI, text, sizeof text, path, check);
    say("%s", text);
}

// Runs the check of one input into *check and prints its verdict; 1 when
// accepted. Only the disc image is big enough to show a bar while it is
// read. The check's stamp of the file (and, for the disc image, the digests
// of its audio tracks) go to the build.
static int check_input(GameInput input, const char* path, FileCheck* check) {
    if (input == INPUT_DISC_IMAGE) {
        char status[300];
        snprintf(status, sizeof status, "Checking %s", verdict_file_name(FRONT_CLI, path));
        begin_view(status);
        check_game_input(input, path, check, view.terminal ? on_progress : nullptr, 0, &interrupted);
        // A stopped check leaves its line (and the "^C" after it) standing.
        end_view(!is_cancelled(&interrupted));
    } else {
        check_game_input(input, path, check, nullptr, 0, &interrupted);
    }
    if (is_cancelled(&interrupted)) return 0;
    print_verdict(path, check);
    return check->ok;
}

// --- the run ---

int cli_main(int argc, char** argv) {
    cli_console_init();
    static CliOptions options;
    memset(&options, 0, sizeof options);
    int status = parse_options(argc, argv, &options);
    if (status) return status;
    if (options.help) {
        say("%s", usage_text);
        return EXIT_BUILT;
    }
    if (!options.dest[0]) {
        // A default too long to take whole is no default: cut, it would
        // name another folder.
        char fallback[PATH_CAPACITY];
        cli_default_destination(fallback, sizeof fallback);
        if (path_fits(FRONT_CLI, fallback)) memcpy(options.dest, fallback, strlen(fallback) + 1);
    }
    if (!options.dest[0]) return usage_error("no default destination here: give --dest", nullptr);

    // A file that is not there is a mistake in the command, whichever
    // option named it.
    const char* named[3] = {options.bin, options.cue, options.rom};
    for (const char* input : named)
        if (input[0] && !path_exists(input)) return usage_error("cannot find ", input);

    // The inputs, paired as the files page pairs them: a disc image finds
    // the cue sheet beside it, a cue sheet finds the image it names, and a
    // .cue given as the disc image is taken as the cue sheet.
    if (options.game == GAME_BOSS_RALLY) {
        if (!options.bin[0] && !options.cue[0]) {
            return usage_error("Boss Rally needs --bin or --cue",
                               options.rom[0] ? " (--game tgr selects Top Gear Rally)" : nullptr);
        }
        // A partner too long to take whole counts as none: cut, it would
        // name another file.
        if (!options.cue[0] || !options.bin[0]) {
            int as_sheet = !options.bin[0];
            char* named = as_sheet ? options.cue : options.bin;
            static DiscPairing pairing;
            pair_disc_file(FRONT_CLI, named, as_sheet, &pairing);
            if (pairing.is_sheet && !as_sheet) {
                memcpy(options.cue, options.bin, sizeof options.cue);
                options.bin[0] = 0;
            }
            if (pairing.partner != PARTNER_FOUND)
                return pairing.is_sheet
                           ? usage_error("the cue sheet names no disc image that exists: give --bin", nullptr)
                           : usage_error("no cue sheet beside the disc image: give --cue", nullptr);
            char* partner = pairing.is_sheet ? options.bin : options.cue;
            memcpy(partner, pairing.partner_path, strlen(pairing.partner_path) + 1);
        }
    } else if (!options.rom[0]) {
        return usage_error("Top Gear Rally needs --rom", nullptr);
    }

    // A folder, pipe or device would never give a digest (a pipe may not
    // even end): refused before any check starts.
    const char* inputs[2] = {options.bin, options.cue};
    if (options.game != GAME_BOSS_RALLY) {
        inputs[0] = options.rom;
        inputs[1] = "";
    }
    for (const char* input : inputs)
        if (input[0] && path_exists(input) && !is_regular_file(input))
            return usage_error(input, " is a folder or a device, not a file");

    // From here on Ctrl+C only asks the run to stop, checks included.
    interrupted.store(0);
    cli_watch_interrupt(&interrupted);

    int accepted = 1;
    static FileCheck bin_check, cue_check, rom_check;
    if (options.game == GAME_BOSS_RALLY) {
        accepted &= check_input(INPUT_DISC_IMAGE, options.bin, &bin_check);
        if (!is_cancelled(&interrupted)) accepted &= check_input(INPUT_CUE_SHEET, options.cue, &cue_check);
    } else {
        accepted &= check_input(INPUT_CARTRIDGE_ROM, options.rom, &rom_check);
    }
    if (is_cancelled(&interrupted)) {
        say_error("kelvorn-cli: cancelled; nothing was written\n");
        return EXIT_CANCELLED;
    }
    if (!accepted) {
        say_error("kelvorn-cli: an input is not the retail game; nothing was written\n");
        return EXIT_REJECTED;
    }

    BuildRequest request = BuildRequest();
    request.game = options.game;
    request.bin_path = options.bin;
    request.cue_path = options.cue;
    request.rom_path = options.rom;
    request.dest_dir = options.dest;
    request.threads = options.threads;
    // The build refuses inputs that changed since their check.
    if (bin_check.stamp.valid) {
        request.bin_stamp = &bin_check.stamp;
        request.bin_audio = &bin_check.audio;
    }
    if (cue_check.stamp.valid) request.cue_stamp = &cue_check.stamp;
    if (rom_check.stamp.valid) request.rom_stamp = &rom_check.stamp;
    char folder[PATH_CAPACITY];
    build_folder_path(&request, folder, sizeof folder);
    static DestinationProbe probe;
    probe_build_destination(&request, &probe);
    static char words[DESTINATION_TEXT_CAPACITY];
    if (word_destination(FRONT_CLI, &probe, options.replace, words, sizeof words) != DEST_GO) {
        say_error("%s\n", words);
        return EXIT_DESTINATION;
    }

    static SpaceCheck space;
    if (!options.no_space_check && !build_has_room(&request, &space)) {
        static char shortfall[PATH_CAPACITY + 256];
        format_space_shortfall(FRONT_CLI, shortfall, sizeof shortfall, &space, options.dest);
        say_error("%s\n", shortfall);
        return EXIT_FAILED;
    }

    begin_view("Starting");
    if (view.terminal) draw_bar(view.started);
    char error[1024];
    int built = run_build(&request, on_progress, 0, &interrupted, error, sizeof error);
    end_view(0);
    // A build that got to its end stands, even when Ctrl+C came too late to
    // stop it (the cartridge build never looks).
    if (built) {
        say("%s is ready in %s\n", game_display_name(options.game), folder);
        return EXIT_BUILT;
    }
    say_error("kelvorn-cli: %s\n", error);
    return is_cancelled(&interrupted) ? EXIT_CANCELLED : EXIT_FAILED;
}
