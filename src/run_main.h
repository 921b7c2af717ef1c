// The one call a platform's entry makes into the program.
#pragma once

// Runs the program and ends the process: the one place where a failure, or
// any other exception, is caught, reported and turned into the exit status.
// The normal outcomes end in modMain::Main. Called by the platform's main (or
// wWinMain) once it has what CommandTail needs.
[[noreturn]] void RunMain();
