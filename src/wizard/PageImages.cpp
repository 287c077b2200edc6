#include "wizard/PageImages.h"

#include "platform/Platform.h"

int32_t FindBackgroundRecord(const InstallerState& state, int32_t pageKey, int32_t start) {
    if (start < 0 || start >= kMaxBackgroundRecords) return state.backgroundRecordCount;
    for (int32_t i = start; i < state.backgroundRecordCount; ++i) {
        const BackgroundRecord& record = state.backgroundRecords[i];
        if (record.pageKey == pageKey && !record.path.empty()) return i;
    }
    return state.backgroundRecordCount;
}

std::string LogoPathForPage(const InstallerState& state, int32_t page) {
    const int32_t slot = page + 1;
    if (slot > 0 && slot < kImageSlotCount && !state.imageSlots[slot].empty() &&
        platform::PathExists(state.imageSlots[slot].c_str())) {
        return state.imageSlots[slot];
    }
    return state.imageSlots[0];
}
