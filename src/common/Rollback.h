#pragma once
// Undoing what a journal records (see Journal.h): by the run itself when it
// does not complete, and by the next installer or uninstaller that starts in
// a folder where a killed run left its journal.

#include <string>
#include <vector>

#include "common/Journal.h"

enum class EarlierRun {
    None,          // no journal: nothing to do
    PutBack,       // a run that did not complete is undone; the journal is gone
    Completed,     // a run that completed left asides: they are removed
    NotPutBack,    // something could not be put back: the journal stays, to try again
    Unreadable,    // the journal is not one: nothing is touched, the asides stay
    Busy,          // the journal is held open: a run into the folder is going on
};

// The journal's path in a folder (with or without its trailing separator).
std::string JournalPathIn(const std::string& folder);

// Undoes the journal at journalPath, newest change first, and then removes
// it; for a completed run only removes the asides. *log gets a line per
// change put back, and one per failure.
EarlierRun UndoJournal(const std::string& journalPath, std::vector<std::string>* log);

// The run completed: writes so in the journal, removes the asides and then
// the journal. Failures only leave asides behind, and are logged.
void CompleteJournal(Journal& journal, std::vector<std::string>* log);

// Handles the journal an earlier run left in folder, if any, as UndoJournal.
EarlierRun RecoverEarlierRun(const std::string& folder, std::vector<std::string>* log);

// What the user is told about an earlier run's journal; empty for None and
// Completed, which need no word.
std::string EarlierRunText(EarlierRun result, const std::string& folder);
