// The shared object nsKVDLibrary.so.1 is the whole static core linked in; this unit only anchors the
// target. What it exports is fixed by exports.map: the ns_* entry points and the exported globals.
#include "reader/KVXAStreamFile.h"
