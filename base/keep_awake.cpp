#include "base/keep_awake.h"

#include <windows.h>

KeepAwake::KeepAwake() : previous_(SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED)) {}

// Only a state set with ES_CONTINUOUS lasts, so that is what there is to give back; a failed
// call above (0) had changed nothing, and ES_CONTINUOUS alone clears the request.
KeepAwake::~KeepAwake() { SetThreadExecutionState(previous_ & ES_CONTINUOUS ? previous_ : ES_CONTINUOUS); }
