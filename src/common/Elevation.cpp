#include "common/Elevation.h"

#include "common/Log.h"

platform::ElevatedRun RelaunchElevated(const std::string& marker, const std::string& arguments,
                                       const std::string& logPath, int* exitCode) {
    std::string parameters = marker;
    if (!arguments.empty()) parameters += " " + arguments;
    LogEvent("starting again with administrator rights: " + parameters);
    CloseLog();
    uint32_t code = 0;
    const platform::ElevatedRun run = platform::RunElevatedAndWait(platform::GetModuleFilePath(), parameters, &code);
    std::string outcome = "error: the prompt for administrator rights was refused";
    if (run == platform::ElevatedRun::Failed) {
        outcome = "error: the run with administrator rights could not start: " +
                  platform::ErrorMessage(platform::LastErrorCode());
    }
    if (run == platform::ElevatedRun::Finished) {
        *exitCode = static_cast<int>(code);
        outcome = "the run with administrator rights ended with exit code " + std::to_string(*exitCode);
    }
    if (!logPath.empty()) (void)OpenLog(logPath, true);
    LogEvent(outcome);
    return run;
}

std::string RightsRefusedText(bool canChooseJustForMe) {
    return std::string("Installing for all users of this computer needs administrator rights, which were not given.") +
           (canChooseJustForMe ? "\n\nChoose \"Install just for me\" to install without them." : "");
}
