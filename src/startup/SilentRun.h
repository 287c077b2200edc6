#pragma once
// /S: the whole installation without any window, through the same code as
// the wizard: the loader's steps, the folder page's checks and the
// installation proper, with the wizard's defaults for every choice.

// Runs it and returns the exit code. The workspace is already claimed.
int RunSilently();
