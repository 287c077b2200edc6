#pragma once

// Runs the separate progress window (dialog 109) modally until the install
// worker's completion closes it.
void RunProgressDialog();
