#pragma once
#include <string>

#include "uninstall/Removal.h"

// Runs the removal on a worker thread behind the progress dialog, which
// closes when the removal ends. Questions are asked in boxes it owns, under
// the caption given.
RemovalOutcome RunRemovalDialog(Removal& removal, const std::string& caption);
