// The front ends' shared decisions and wording.
#ifndef KELVORN_SESSION_SESSION_H
#define KELVORN_SESSION_SESSION_H

#include "builder/build.h"

#endif
