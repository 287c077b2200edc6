#pragma once
// The installer's exit codes, as README's table gives them to administrators.

constexpr int kExitFinished = 0;        // also: the user chose not to install
constexpr int kExitCouldNotStart = 1;   // damaged installer, unwritable workspace
constexpr int kExitStoppedOnError = 2;  // Abort in the question about a failed file
constexpr int kExitItemsMissing = 3;    // finished, but some items were not installed
constexpr int kExitAnotherRunning = 4;  // another run holds the workspace; nothing done
constexpr int kExitCancelled = 5;       // cancelled while files were placed; everything put back
