#pragma once
#include <cstdint>

// Shows the "Extracting..." dialog until loading is complete or the user
// cancels (Cancel, or closing the window). Runs on the main thread. False
// when the dialog could not be shown at all.
bool RunExtractionDialog();

// Progress of the archive copy, in whole MiB, posted from the loader thread to
// the dialog's bar; nothing happens while the dialog is not open.
void PostExtractionRange(int32_t megabytes);
void PostExtractionPosition(int32_t megabytes);

// Called on the loader's side once loadingComplete is set: the dialog ends
// at once rather than at its next look.
void NotifyLoadingComplete();
