#pragma once
// The commands of quilora-book over the window's engine: the same session,
// catalogue, patient cache and auto-booking, driven from the command line.
#include "book/book_options.h"
#include "book/book_output.h"

namespace quilora::book {

enum ExitCode : int {
    kExitDone = 0,
    kExitRefused = 1,
    kExitUsage = 2,
    kExitUnreachable = 3,
    kExitStopped = 130, // as a shell reports a program ended by Ctrl+C
};

// Runs the parsed command; every error ends as one line and its exit code.
int RunCommand(const BookOptions& options, BookOutput& output);

} // namespace quilora::book
