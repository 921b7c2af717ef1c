// The end of the process, the same on every platform. The unit tests and the
// fuzzers link the recording fake's End instead, which unwinds back to them.
#include <cstdlib>

#include "platform.h"

void platform::End(ExitStatus status) { std::exit(static_cast<int>(status)); }
