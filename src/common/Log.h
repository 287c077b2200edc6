#pragma once
// The installation log that /LOG= asks for: one line per event, each with
// its local time, flushed as it is written, so that the log of a run that
// was killed still shows how far it came. Without an open log, LogEvent
// does nothing. Any thread may log.

#include <string>

// False when the file cannot be created; the run then goes on without one.
// With append, the lines go after what the file holds already.
bool OpenLog(const std::string& path, bool append = false);
void LogEvent(const std::string& text);
void CloseLog();
