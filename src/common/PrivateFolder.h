#pragma once
// Folders of one run under the temporary folder, which every program of the
// user may write in. A name that cannot be guessed, a folder that is made
// new (never one that is there already), and, for a run with administrator
// rights, rights that let the user read but not change what is inside: so
// nothing that runs without those rights can swap what an elevated run
// reads or starts.

#include <string>

constexpr int kRandomNameCharacters = 16;
constexpr int kPrivateFolderTries = 16;

// prefix and kRandomNameCharacters characters of "0-9a-z" from the system's
// cryptographic generator; empty when the generator gives nothing.
std::string RandomFolderName(const std::string& prefix);

// The rights of a folder made by an elevated run: full control for
// Administrators and the system, read and execute for userSid, inherited by
// every folder and file made inside, and nothing inherited from above. With
// an empty userSid, the user gets nothing.
std::string ProtectedFolderRights(const std::string& userSid);

// The rights a new private folder gets: protected when this process is
// elevated, else the usual ones (an empty text).
std::string PrivateFolderRights();

// Makes a new folder parent + RandomFolderName(prefix) with the rights
// above; a name that exists is never used, the next one is tried, at most
// kPrivateFolderTries in all. parent ends with a separator. The folder's
// path, or empty when none could be made (LastErrorCode tells why).
std::string CreatePrivateFolder(const std::string& parent, const std::string& prefix);
