// Prints "<md5>  <path>" for each argument as md5_file digests it (the
// format of md5sum), or "unreadable  <path>"; exit code 1 when any failed.
#include <stdio.h>

#include "builder/checks.h"

int main(int argc, char** argv) {
    int result = 0;
    for (int i = 1; i < argc; ++i) {
        char hex[33];
        if (md5_file(argv[i], hex, nullptr, 0, nullptr)) {
            printf("%s  %s\n", hex, argv[i]);
        } else {
            printf("unreadable  %s\n", argv[i]);
            result = 1;
        }
    }
    return result;
}
