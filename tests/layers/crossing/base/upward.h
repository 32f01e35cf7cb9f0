// A base header that reaches up into the build.
#include "builder/build.h"
