// The wizard using the command line.
#include "cli/cli.h"
#include "session/session.h"
