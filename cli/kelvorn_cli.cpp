// kelvorn-cli: the same build as the wizard, without a window. Checks every
// input, probes the destination, then runs the build with a progress line.
//
// Exit codes: 0 built, 1 build failed, 2 usage error, 3 an input was
// rejected by its check, 4 destination refused or needs --replace,
// 130 cancelled.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "checks/checks.h"
#include "cli/cli.h"
#include "cli/cli_platform.h"
#include "core/build.h"
#include "disc/cue.h"

enum { EXIT_BUILT = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_REJECTED = 3, EXIT_DESTINATION = 4,
       EXIT_CANCELLED = 130 };

// Paths from the command line, as the window would keep them.
enum { ARG_CAPACITY = 1024 };

struct CliOptions {
    GameKind game;
    char dest[ARG_CAPACITY];
    char bin[ARG_CAPACITY];
    char cue[ARG_CAPACITY];
    char rom[ARG_CAPACITY];
    int replace;
    int help;
};

static const char usage_text[] =
    "Usage: kelvorn-cli [--game tgr] [--dest FOLDER] [--bin FILE] [--cue FILE] [--rom FILE] [--replace]\n"
    "\n"
    "Builds a game folder from your own copy of the game, as the Kelvorn wizard does.\n"
    "  --game NAME    \"tgr\" builds Top Gear Rally; anything else builds Boss Rally\n"
    "  --dest FOLDER  where the build folder goes (default: Documents\\Games on Windows,\n"
    "                 $HOME/Games elsewhere)\n"
    "  --bin FILE     Boss Rally: the raw disc image; its cue sheet is found beside it\n"
    "  --cue FILE     Boss Rally: the cue sheet; its disc image is found from it\n"
    "  --rom FILE     Top Gear Rally: the cartridge ROM (.z64, .v64 or .n64)\n"
    "  --replace      replace an earlier build made by Kelvorn\n"
    "  --help         show this text\n"
    "\n"
    "Exit codes: 0 built, 1 build failed, 2 usage error, 3 an input was rejected,\n"
    "4 destination refused or needs --replace, 130 cancelled.\n";

static int usage_error(const char* message, const char* detail) {
    fprintf(stderr, "kelvorn-cli: %s%s\n", message, detail ? detail : "");
    fprintf(stderr, "Run kelvorn-cli --help for usage.\n");
    return EXIT_USAGE;
}

// Parses argv (UTF-8). Returns 0 on success, else the usage exit code after
// printing the reason.
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
        if (strcmp(token, "--game") == 0) {
            if (i + 1 >= argc) return usage_error("missing value for ", token);
            options->game = strcmp(argv[++i], "tgr") == 0 ? GAME_TOP_GEAR_RALLY : GAME_BOSS_RALLY;
            continue;
        }
        if (strcmp(token, "--dest") == 0) target = options->dest;
        else if (strcmp(token, "--bin") == 0) target = options->bin;
        else if (strcmp(token, "--cue") == 0) target = options->cue;
        else if (strcmp(token, "--rom") == 0) target = options->rom;
        else return usage_error("unknown option ", token);
        if (i + 1 >= argc) return usage_error("missing value for ", token);
        snprintf(target, ARG_CAPACITY, "%s", argv[++i]);
    }
    return 0;
}

// The cue sheet beside a disc image: the path cut at its last '.', plus
// ".cue", when something exists under that name.
static void partner_cue(const char* bin, char* out, size_t capacity) {
    const char* dot = strrchr(bin, '.');
    int keep = dot ? (int)(dot - bin) : (int)strlen(bin);
    snprintf(out, capacity, "%.*s.cue", keep, bin);
    if (!path_exists(out)) out[0] = 0;
}

static const char* file_name_of(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/') name = p + 1;
    return name;
}

// Prints a verdict as the files page words it.
static void print_verdict(const char* path, const FileCheck* check) {
    printf("%s\nYour file's MD5  %s  %s\n", file_name_of(path), check->md5_hex,
           check->ok ? "\xE2\x9C\x93 matches" : "\xE2\x9C\x97 does not match");
    if (check->note[0]) printf("%s\n", check->note);
    fflush(stdout);
}

// --- progress display ---

struct ProgressView {
    int terminal;
    int columns;
    double started;
    double fraction;
    char status[256];
    int drawn;  // a bar line is on screen
};

static ProgressView view;

static void format_duration(double seconds, char* out, size_t capacity) {
    if (seconds < 0) seconds = 0;
    long s = (long)(seconds + 0.5);
    if (s >= 3600) snprintf(out, capacity, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    else snprintf(out, capacity, "%ld:%02ld", s / 60, s % 60);
}

static void draw_bar(void) {
    double elapsed = cli_seconds() - view.started;
    char spent[32], left[32];
    format_duration(elapsed, spent, sizeof spent);
    if (view.fraction > 0.01 && view.fraction < 1.0)
        format_duration(elapsed * (1.0 - view.fraction) / view.fraction, left, sizeof left);
    else
        snprintf(left, sizeof left, "--:--");
    char line[512];
    cli_format_bar(line, sizeof line, view.columns, view.fraction, view.status, spent, left);
    printf("\r%s", line);
    fflush(stdout);
    view.drawn = 1;
}

static void on_progress(uint64_t user, double fraction, const char* status) {
    (void)user;
    view.fraction = fraction;
    int changed = status && strcmp(status, view.status) != 0;
    if (status) snprintf(view.status, sizeof view.status, "%s", status);
    if (view.terminal) {
        draw_bar();
    } else if (changed) {
        printf("%3d%%  %s\n", (int)(fraction * 100.0), view.status);
        fflush(stdout);
    }
}

static void end_bar(void) {
    if (view.terminal && view.drawn) printf("\n");
    view.drawn = 0;
}

// --- the run ---

static int interrupted;

int cli_main(int argc, char** argv) {
    cli_console_init();
    static CliOptions options;
    memset(&options, 0, sizeof options);
    int status = parse_options(argc, argv, &options);
    if (status) return status;
    if (options.help) {
        fputs(usage_text, stdout);
        return EXIT_BUILT;
    }
    if (!options.dest[0]) cli_default_destination(options.dest, sizeof options.dest);
    if (!options.dest[0]) return usage_error("no destination: give --dest", nullptr);

    // Inputs, and their checks, as the files page does them.
    if (options.game == GAME_BOSS_RALLY) {
        if (!options.bin[0] && !options.cue[0]) return usage_error("Boss Rally needs --bin or --cue", nullptr);
        if (options.bin[0] && !options.cue[0]) partner_cue(options.bin, options.cue, sizeof options.cue);
        if (options.cue[0] && !options.bin[0]) {
            char found[ARG_CAPACITY];
            if (find_bin_for_cue(options.cue, found, sizeof found))
                snprintf(options.bin, sizeof options.bin, "%s", found);
        }
        if (!options.bin[0]) return usage_error("no disc image: give --bin", nullptr);
        if (!options.cue[0]) return usage_error("no cue sheet beside the disc image: give --cue", nullptr);
    } else if (!options.rom[0]) {
        return usage_error("Top Gear Rally needs --rom", nullptr);
    }

    int accepted = 1;
    FileCheck check;
    if (options.game == GAME_BOSS_RALLY) {
        check_disc_image(options.bin, &check, nullptr, 0, nullptr);
        print_verdict(options.bin, &check);
        accepted &= check.ok;
        check_cue_sheet(options.cue, &check);
        print_verdict(options.cue, &check);
        accepted &= check.ok;
    } else {
        check_cartridge_rom(options.rom, &check, nullptr, 0);
        print_verdict(options.rom, &check);
        accepted &= check.ok;
    }
    if (!accepted) {
        fprintf(stderr, "kelvorn-cli: an input is not the retail game; nothing was written\n");
        return EXIT_REJECTED;
    }

    BuildRequest request;
    request.game = options.game;
    request.bin_path = options.bin;
    request.cue_path = options.cue;
    request.rom_path = options.rom;
    request.dest_dir = options.dest;
    char folder[PATH_CAPACITY];
    build_folder_path(&request, folder, sizeof folder);
    int marker = 0;
    if (probe_destination(&request, &marker)) {
        if (!marker) {
            fprintf(stderr,
                    "%s already exists and was not made by Kelvorn, so it will not be replaced. Move it away "
                    "or choose another folder.\n",
                    folder);
            return EXIT_DESTINATION;
        }
        if (!options.replace) {
            fprintf(stderr, "An earlier build is at %s. Run again with --replace to replace it.\n", folder);
            return EXIT_DESTINATION;
        }
    }

    memset(&view, 0, sizeof view);
    view.terminal = cli_stdout_is_terminal();
    view.columns = cli_terminal_columns();
    view.started = cli_seconds();
    cli_watch_interrupt(&interrupted);
    char error[1024];
    int built = run_build(&request, on_progress, 0, &interrupted, error, sizeof error);
    end_bar();
    if (built) {
        printf("%s is ready in %s\n", game_display_name(options.game), folder);
        return EXIT_BUILT;
    }
    fprintf(stderr, "kelvorn-cli: %s\n", error);
    return interrupted ? EXIT_CANCELLED : EXIT_FAILED;
}
