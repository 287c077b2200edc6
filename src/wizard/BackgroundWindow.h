#pragma once

// Runs the full-screen background (dialog 106 when borderless, else dialog
// 105) modally on the calling thread, the loader's, until the process ends.
// Its opening sets loadingComplete, which lets the wizard open inside it; a
// background that cannot be opened sets it too, so the wizard runs alone.
// notifyLoadingComplete is called each time it is set, on this thread.
void RunBackgroundWindow(void (*notifyLoadingComplete)());
