// The one call a platform's entry makes into the program.
#pragma once

// Runs the program and ends the process: the one place where a failure, or
// any other exception, is caught, reported and turned into the exit status.
// The normal outcomes end in modMain::Main. Called once the platform has what
// CommandTail needs: by main on POSIX, and on Windows by win32::Run, which
// both programs' entries (wWinMain, wmain) call.
[[noreturn]] void RunMain();
