// hold_path PATH MILLISECONDS EVENT: waits until PATH exists, opens it as an
// antivirus scanner or indexer does (reading, sharing read and write but not
// delete; a folder too), signals the named EVENT, holds it for MILLISECONDS
// and lets go. Exit code 0 when it held PATH, 1 when PATH never appeared
// within a minute, 2 on bad arguments.
#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    DWORD hold_ms = (DWORD)wcstoul(argv[2], nullptr, 10);
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    for (int waited = 0; waited < 60000; ++waited) {
        HANDLE held = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (held != INVALID_HANDLE_VALUE) {
            if (event) SetEvent(event);
            Sleep(hold_ms);
            CloseHandle(held);
            return 0;
        }
        Sleep(1);
    }
    return 1;
}
