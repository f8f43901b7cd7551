// What every crash program shares: the reporter started as in a module that is the
// executable, and a hand-over that builds the complete report on a thread of its own and
// writes it to the file named by the first argument, then ends the process.
#pragma once

#define CRASH_NOINLINE __attribute__((noinline, noclone, noipa))

// Starts the reporter; argv[1] names the report file.
void StartCrashReporter(int argc, char** argv);
// Keeps a call from becoming a jump, so that the caller's frame stays on the stack.
void KeepFrame();
