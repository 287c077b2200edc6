// Entry of the end-to-end tests. The installers they start run on a desktop
// of their own, and get the test run's own temporary folder (KX_E2E_TEMP,
// inherited through TMP and TEMP), so neither their windows nor their
// workspace meet those of other Wine programs running beside.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Driver.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!e2e::UsePrivateDesktop("kx-e2e-" + std::to_string(GetCurrentProcessId()))) {
        std::fprintf(stderr, "cannot create a desktop for the installers\n");
        return 1;
    }
    const char* temp = std::getenv("KX_E2E_TEMP");
    if (temp != nullptr && *temp != '\0') {
        SetEnvironmentVariableA("TMP", temp);
        SetEnvironmentVariableA("TEMP", temp);
    }
    return RUN_ALL_TESTS();
}
