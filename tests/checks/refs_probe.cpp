// Prints the reference table in force, as "key=<md5>" lines. Built twice:
// with the retail table and with the fixture table, so a test can see which
// of them honours KELVORN_TEST_DIGESTS. Several threads ask for the table at
// once first; they must all get the same one.
#include <stdio.h>

#include <thread>
#include <vector>

#include "builder/reference.h"

int main() {
    const int count = 8;
    const ReferenceDigests* seen[count];
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) threads.emplace_back([&seen, i] { seen[i] = reference_digests(); });
    for (std::thread& t : threads) t.join();
    for (int i = 1; i < count; ++i)
        if (seen[i] != seen[0]) {
            fprintf(stderr, "threads saw different tables\n");
            return 1;
        }
    const ReferenceDigests* refs = seen[0];
    printf("disc_image=%s\ncue_sheet=%s\ncartridge_rom=%s\nbrglide=%s\n", refs->disc_image, refs->cue_sheet,
           refs->cartridge_rom, refs->brglide);
    return 0;
}
