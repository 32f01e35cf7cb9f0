// A format that uses another format.
#include "formats/disc/iso.h"
#include "base/paths.h"
