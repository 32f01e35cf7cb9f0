# Install step of the release package: writes README.txt and LICENSE beside
# the programs, then SHA256SUMS over every file of the folder. Runs inside
# cmake_install.cmake after the KELVORN_DOCS_* variables are set.
#
# README.txt says which game executables the programs carry, by name and
# SHA-256, never by the folder they were built in.

set(_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(_text_permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# _write_text(NAME TEXT): the file with the package's line ends (CRLF for
# Windows, where Notepad is what opens them), mode 0644 whatever the umask.
function(_write_text name text)
    if(KELVORN_DOCS_WINDOWS)
        string(REPLACE "\n" "\r\n" text "${text}")
    endif()
    file(WRITE "${_dir}/${name}" "${text}")
    file(CHMOD "${_dir}/${name}" PERMISSIONS ${_text_permissions})
endfunction()

set(_games_text "")
set(_standins 0)
foreach(entry IN LISTS KELVORN_DOCS_GAMES)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 display)
    list(GET entry 1 kind)
    list(GET entry 2 path)
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "the embedded ${display} executable is not built: ${path}")
    endif()
    file(SHA256 "${path}" digest)
    if(kind STREQUAL "standin")
        math(EXPR _standins "${_standins} + 1")
        string(APPEND _games_text
            "- ${display}.exe: the stand-in, a small program built from\n"
            "  games/standin.c in Kelvorn's sources. It checks the data that the\n"
            "  build put beside it and says what it found; it is not the game.\n")
    else()
        get_filename_component(given "${path}" NAME)
        string(APPEND _games_text
            "- ${display}.exe: the game executable ${given}, embedded by\n"
            "  the packager.\n")
    endif()
    string(APPEND _games_text "  SHA-256 ${digest}\n")
endforeach()
set(KELVORN_README_GAMES "${_games_text}")
set(KELVORN_README_TITLE "Kelvorn ${KELVORN_DOCS_VERSION} for ${KELVORN_DOCS_PLATFORM}")
string(LENGTH "${KELVORN_README_TITLE}" _title_length)
string(REPEAT "=" ${_title_length} KELVORN_README_RULE)
# The newest glibc symbol version the Linux program asks for is the oldest
# glibc it runs on.
set(KELVORN_README_GLIBC "")
if(EXISTS "${_dir}/kelvorn-cli")
    file(STRINGS "${_dir}/kelvorn-cli" _needed REGEX "^GLIBC_[0-9.]+$")
    set(KELVORN_README_GLIBC 2.2.5)
    foreach(tag IN LISTS _needed)
        string(REPLACE "GLIBC_" "" version "${tag}")
        if(version VERSION_GREATER KELVORN_README_GLIBC)
            set(KELVORN_README_GLIBC ${version})
        endif()
    endforeach()
endif()
file(READ "${KELVORN_DOCS_RUNNING}" _running)
string(CONFIGURE "${_running}" KELVORN_README_RUNNING @ONLY)
# Windows programs built with MinGW-w64 carry its runtime: the package's
# own on Windows, and the stand-ins in either package.
set(KELVORN_README_LINKED "")
if(KELVORN_DOCS_WINDOWS)
    set(KELVORN_README_LINKED "kelvorn.exe and kelvorn-cli.exe, and the stand-ins they carry, are")
elseif(_standins GREATER 0)
    set(KELVORN_README_LINKED "The stand-in game executables that kelvorn-cli carries are")
endif()
set(KELVORN_README_THIRD_PARTY "")
if(KELVORN_README_LINKED)
    file(READ "${KELVORN_DOCS_SOURCE_DIR}/packaging/third-party.txt" _third_party)
    string(CONFIGURE "${_third_party}" KELVORN_README_THIRD_PARTY @ONLY)
endif()

file(READ "${KELVORN_DOCS_SOURCE_DIR}/packaging/README.txt.in" _template)
string(CONFIGURE "${_template}" _readme @ONLY)
_write_text(README.txt "${_readme}")
file(READ "${KELVORN_DOCS_SOURCE_DIR}/LICENSE" _license)
_write_text(LICENSE "${_license}")

# Every file but SHA256SUMS itself, in byte order of the names, in the
# format of sha256sum (two spaces: text mode).
file(GLOB _files RELATIVE "${_dir}" LIST_DIRECTORIES false "${_dir}/*")
list(REMOVE_ITEM _files SHA256SUMS)
list(SORT _files)
set(_sums "")
foreach(name IN LISTS _files)
    file(SHA256 "${_dir}/${name}" digest)
    string(APPEND _sums "${digest}  ${name}\n")
endforeach()
file(WRITE "${_dir}/SHA256SUMS" "${_sums}")
file(CHMOD "${_dir}/SHA256SUMS" PERMISSIONS ${_text_permissions})
message(STATUS "Written: ${_dir}/README.txt, LICENSE, SHA256SUMS")
