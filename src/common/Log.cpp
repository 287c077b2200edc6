#include "common/Log.h"

#include <cstdio>
#include <mutex>  // std::lock_guard

#include "platform/Platform.h"

namespace {

platform::Lock logLock;
std::FILE* logFile = nullptr;

}  // namespace

bool OpenLog(const std::string& path, bool append) {
    std::lock_guard<platform::Lock> hold(logLock);
    if (logFile != nullptr) std::fclose(logFile);
    logFile = platform::OpenStream(path.c_str(), append ? "ab" : "wb");
    return logFile != nullptr;
}

void LogEvent(const std::string& text) {
    std::lock_guard<platform::Lock> hold(logLock);
    if (logFile == nullptr) return;
    const std::string line = platform::LocalTimeStamp() + " " + text + "\r\n";
    std::fwrite(line.data(), 1, line.size(), logFile);
    std::fflush(logFile);
}

void CloseLog() {
    std::lock_guard<platform::Lock> hold(logLock);
    if (logFile != nullptr) std::fclose(logFile);
    logFile = nullptr;
}
