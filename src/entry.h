// The program's entry, called by each platform's own main function.
#pragma once

// Runs Main; the one place where a failure is caught, reported and turned
// into the exit status.
[[noreturn]] void RunMain();
