#include "platform/Platform.h"

namespace platform {

namespace {

RegistryWriter* replacementWriter = nullptr;

RegistryWriter& CurrentWriter() { return replacementWriter != nullptr ? *replacementWriter : SystemRegistryWriter(); }

}  // namespace

void SetRegistryWriter(RegistryWriter* writer) { replacementWriter = writer; }

bool WriteRegistryString(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                         const std::string& value) {
    return CurrentWriter().WriteString(root, subKey, valueName, value);
}

bool WriteRegistryDword(RegistryRoot root, const std::string& subKey, const std::string& valueName, uint32_t value) {
    return CurrentWriter().WriteDword(root, subKey, valueName, value);
}

}  // namespace platform
