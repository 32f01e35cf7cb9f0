// Shared by the wizard's GUI tests: the programs under test, the page tables
// and small fixture makers.
#ifndef KELVORN_TESTS_UI_FIXTURES_H
#define KELVORN_TESTS_UI_FIXTURES_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "ui/ui_driver.h"
#include "ui/wizard.h"  // the IDC_* control ids

namespace ui {

// The release build and the build with the testing digest table.
std::wstring kelvorn_exe();
std::wstring kelvorn_testing_exe();

// The DPI the test prefix runs at (KELVORN_UI_DPI, default 96).
int expected_dpi();

// Skips the test when there is no display to run a GUI on.
#define KV_REQUIRE_DISPLAY()                                                   \
    do {                                                                       \
        if (!getenv("DISPLAY")) GTEST_SKIP() << "no DISPLAY (run under xvfb-run)"; \
    } while (0)

extern const std::vector<Expected> GAME_PAGE;
std::vector<Expected> building_page(const wchar_t* title);
std::vector<Expected> success_page(const wchar_t* title, const wchar_t* folder);
std::vector<Expected> failure_page(const wchar_t* message);

// Labels whose text changes, found where they sit (App::find_label_below);
// an empty Control when the page has none.
// The label under the one with the text above (the folder under "Build
// into:", a file row's digest line under its name).
Control label_under(const App& app, const std::wstring& above);
// The building page's status, under the progress bar.
Control status_label(const App& app);
// The result page's message, under the title.
Control message_label(const App& app);
// A file row's verdict, under its digest line; row is the row's name
// ("Disc image (.bin)", "Cue sheet (.cue)", "Cartridge ROM").
Control verdict_label(const App& app, const std::wstring& row);

// An 8 MiB cartridge ROM in z64 order that is not the retail one; seed
// varies the content.
void write_rom(const std::string& path, uint32_t seed);

// The Documents folder of this Wine user, as the program sees it.
std::wstring documents_folder();

// A test's screenshot name: "<suite>_<test>_<page>", with "_<dpi>dpi" when
// the prefix is not at 96 DPI.
std::string shot_name(const char* page);

}  // namespace ui

#endif
