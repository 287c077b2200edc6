#pragma once
#include <cstdint>
#include <string>

#include "state/InstallerState.h"

// The first record from start on whose page key is pageKey and whose path is
// set; backgroundRecordCount when there is none (its empty path reads as a
// missing picture).
int32_t FindBackgroundRecord(const InstallerState& state, int32_t pageKey, int32_t start);

// The logo of a page: image slot page + 1 when that file exists, else slot 0.
std::string LogoPathForPage(const InstallerState& state, int32_t page);
