#include "builder/reference.h"

static const ReferenceDigests retail = {
    RETAIL_DISC_IMAGE_MD5,
    RETAIL_CUE_SHEET_MD5,
    RETAIL_CARTRIDGE_ROM_MD5,
    RETAIL_BRGLIDE_MD5,
};

const ReferenceDigests* reference_digests(void) { return &retail; }
