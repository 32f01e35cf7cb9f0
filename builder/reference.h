// The reference digests that identify the retail releases, in one table.
// The shipped program links the retail table (reference_retail.cpp), which
// nothing can change. Only kelvorn-testing links reference_testing.cpp,
// which may take fixture digests from the file named by
// KELVORN_TEST_DIGESTS.
#ifndef KELVORN_CHECKS_REFERENCE_H
#define KELVORN_CHECKS_REFERENCE_H

struct ReferenceDigests {
    const char* disc_image;     // the whole raw BIN
    const char* cue_sheet;      // the whole cue sheet
    const char* cartridge_rom;  // the ROM in z64 order
    const char* brglide;        // disc\BRGlide.dll
};

// The table in force; never null, valid for the life of the process.
const ReferenceDigests* reference_digests(void);

#define RETAIL_DISC_IMAGE_MD5 "31c64f9b1e09788c2dfc384b44af8f6c"
#define RETAIL_CUE_SHEET_MD5 "a48a4a5860558177c3041afee57e03c9"
#define RETAIL_CARTRIDGE_ROM_MD5 "6f7030284b6bc84a49e07da864526b52"
#define RETAIL_BRGLIDE_MD5 "5d6417cd547097fd00954c6874f85e97"

#endif
