// Real file-system conditions that the core tests need and the standard
// library cannot make: an entry that cannot be deleted or renamed, a link to
// a folder, a sparse file.
#ifndef KELVORN_TESTS_CORE_FS_CONDITIONS_H
#define KELVORN_TESTS_CORE_FS_CONDITIONS_H

#include <stdint.h>

#include <string>

namespace kt {

// Keeps a file or folder from being deleted or renamed until unpin: on
// Windows an open handle without delete sharing, on POSIX the immutable
// flag (which also keeps entries from being added to or removed from a
// pinned folder). pin returns false when the platform refuses.
struct Pin {
    std::string path;
    intptr_t handle = -1;
    bool held = false;
};
bool pin(const std::string& path, Pin* out);
void unpin(Pin* pin);
bool pins_work();  // probes once

enum LinkKind { LINK_NONE, LINK_REMOVABLE, LINK_WINE_UNIX };
// Makes link a link to the folder target. LINK_REMOVABLE: a symlink
// (POSIX), or a folder symlink or junction (Windows). LINK_WINE_UNIX: under
// Wine neither exists, so a Unix symlink stands in; Wine shows it as a
// folder reparse point but cannot delete it through any Win32 call.
LinkKind make_folder_link(const std::string& link, const std::string& target);
// Removes what make_folder_link made, whatever its kind.
void remove_link(const std::string& link, LinkKind kind);

// Creates path as a file of size bytes without writing them.
bool make_sparse_file(const std::string& path, uint64_t size);

}  // namespace kt

#endif
