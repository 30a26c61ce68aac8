// Self-deletion: the uninstall role hands off to a temporary copy of itself,
// which deletes the uninstaller and the emptied install directory once the
// uninstall role has ended.
#pragma once

// The uninstall role's side. Copies the running program to the temp folder
// as a new file, whatever stood at its name, opens the copy for deletion on
// close, creates the start event and the owned exit mutex, starts the copy
// with uninstallerPath as its tail, waits for the copy to report that it runs
// and lets go of the copy. Starts nothing when the copy cannot be made so.
// Returns 0.
int StartSelfDelete(const char* uninstallerPath);

// The cleanup role's side: reports that it runs, waits for the uninstall role
// to end, deletes the file named by uninstallerPath (the whole command tail),
// trying again for a short while as long as it is locked, and removes the
// install directory if it is empty by then (a link only once what it leads
// to is empty). Returns 0.
int FinishSelfDelete(const char* uninstallerPath);
