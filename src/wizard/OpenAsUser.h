#pragma once
// The closing step's file, opened as a double click in Explorer would open it.
#include <string>

enum class OpenedThrough {
    UserShell,    // the signed-in user's desktop shell: with that user's rights
    ThisProcess,  // this process's own shell call: with its rights
};

// From an elevated run, the file (a program or a document) is handed to
// the desktop shell of the signed-in user, so the product's first start
// does not run with administrator rights. Where no such shell answers (none
// runs, or the system has none to offer), and from a run that is not
// elevated, this process opens it. A file that will not open is let go.
// Call on a thread where COM is initialised or may be.
OpenedThrough OpenAsSignedInUser(const std::string& target);
