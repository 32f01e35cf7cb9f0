#include "ui/ui_fixtures.h"

#include "support/rom.h"

#include <shlobj.h>

#include <string.h>

namespace ui {

static std::wstring in_binary_dir(const char* name) {
    return widen(kt::binary_dir()) + L"\\" + widen(name);
}

std::wstring kelvorn_exe() { return in_binary_dir("kelvorn.exe"); }
std::wstring kelvorn_testing_exe() { return in_binary_dir("kelvorn-testing.exe"); }

int expected_dpi() {
    const char* dpi = getenv("KELVORN_UI_DPI");
    return dpi && atoi(dpi) > 0 ? atoi(dpi) : 96;
}

const std::vector<Expected> GAME_PAGE = {
    {L"Static", L"Build a game", SS_NOPREFIX, 24, 20, 540, 32, 0, "title"},
    {L"Static",
     L"Kelvorn makes a native Windows build of a game from your own copy of it. Choose the game, and where "
     L"to put it.",
     SS_NOPREFIX, 24, 60, 540, 40, 0, "normal"},
    {L"Button", L"Boss Rally (PC, 1999)", BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, 24, 110, 400, 24, IDC_GAME_BOSS_RALLY,
     "normal"},
    {L"Button", L"Top Gear Rally (Nintendo 64, 1997)", BS_AUTORADIOBUTTON | WS_TABSTOP, 24, 138, 400, 24, IDC_GAME_TOP_GEAR_RALLY,
     "normal"},
    {L"Static", L"Build into:", SS_NOPREFIX, 24, 182, 200, 22, 0, "bold"},
    {L"Static", nullptr, SS_NOPREFIX | SS_SUNKEN | SS_PATHELLIPSIS, 24, 208, 430, 26, 0, "mono"},
    {L"Button", L"Choose...", WS_TABSTOP, 464, 207, 100, 28, IDC_CHOOSE_DEST, "normal"},
    {L"Button", L"Continue", WS_TABSTOP | BS_DEFPUSHBUTTON, 464, 352, 100, 28, IDC_CONTINUE, "normal"},
};

std::vector<Expected> building_page(const wchar_t* title) {
    return {
        {L"Static", title, SS_NOPREFIX, 24, 20, 540, 32, 0, "title"},
        {L"msctls_progress32", L"", 0, 24, 80, 540, 22, 0, "normal"},
        {L"Static", nullptr, SS_NOPREFIX, 24, 112, 540, 44, 0, "normal"},
        {L"Button", L"Cancel", WS_TABSTOP, 464, 352, 100, 28, IDC_CANCEL, "normal"},
    };
}

std::vector<Expected> success_page(const wchar_t* title, const wchar_t* folder) {
    return {
        {L"Static", title, SS_NOPREFIX, 24, 20, 540, 32, 0, "title"},
        {L"Static",
         L"The build is complete. It carries everything it needs, so your disc image or ROM is no longer "
         L"required to play.",
         SS_NOPREFIX, 24, 60, 540, 40, 0, "normal"},
        {L"Static", folder, SS_NOPREFIX | SS_PATHELLIPSIS, 24, 110, 540, 22, 0, "mono"},
        {L"Button", L"Done", WS_TABSTOP, 240, 352, 100, 28, IDC_CLOSE, "normal"},
        {L"Button", L"Open Folder", WS_TABSTOP, 352, 352, 100, 28, IDC_OPEN_FOLDER, "normal"},
        {L"Button", L"Play", WS_TABSTOP | BS_DEFPUSHBUTTON, 464, 352, 100, 28, IDC_PLAY, "normal"},
    };
}

std::vector<Expected> failure_page(const wchar_t* message) {
    return {
        {L"Static", L"The build did not finish", SS_NOPREFIX, 24, 20, 540, 32, 0, "title"},
        {L"Static", message, SS_NOPREFIX, 24, 64, 540, 120, 0, "normal"},
        {L"Button", L"Quit", WS_TABSTOP, 352, 352, 100, 28, IDC_CLOSE, "normal"},
        {L"Button", L"Back", WS_TABSTOP | BS_DEFPUSHBUTTON, 464, 352, 100, 28, IDC_BACK, "normal"},
    };
}

static Control below(const App& app, bool found, const Control& anchor) {
    Control label;
    if (!found || !app.find_label_below(anchor, &label)) return Control();
    return label;
}

Control label_under(const App& app, const std::wstring& above) {
    Control anchor;
    return below(app, app.find_text(above, &anchor), anchor);
}

Control status_label(const App& app) {
    Control bar;
    return below(app, app.find_class(L"msctls_progress32", &bar), bar);
}

Control message_label(const App& app) {
    Control title;
    return below(app, app.find_title(&title), title);
}

Control verdict_label(const App& app, const std::wstring& row) {
    Control digest_line = label_under(app, row);
    return below(app, digest_line.window != nullptr, digest_line);
}

void write_rom(const std::string& path, uint32_t seed) { kt::write_file(path, kt::synthetic_rom(seed)); }

std::wstring documents_folder() {
    wchar_t* path = nullptr;
    std::wstring out;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &path))) out = path;
    CoTaskMemFree(path);
    return out;
}

std::string shot_name(const char* page) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name() + "_" + page;
    if (expected_dpi() != 96) name += "_" + std::to_string(expected_dpi()) + "dpi";
    for (char& c : name)
        if (!isalnum((unsigned char)c) && c != '_' && c != '-') c = '_';
    return name;
}

}  // namespace ui
