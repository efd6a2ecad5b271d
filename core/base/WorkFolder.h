#pragma once
// A folder of this process's own for files it hands to other programs (a picture opened in
// the user's image editor). It lies in the system's temporary folder, is made on first use
// and is removed, with what it holds, when the process ends normally; one left behind by a
// process that was killed is removed by the next process that makes its own.

#include <string>

namespace kiv {

// The folder's path, made on first use after sweeping those of ended processes. Throws
// EFCreateError (naming the temporary folder) when none can be made.
std::string WorkFolder();

// Removes the folder and the files in it now, if it was made; the next WorkFolder() makes a
// new one. Runs by itself when the process ends normally.
void RemoveWorkFolder();

// Removes, from `parent`, the work folders whose process has ended: only folders named as
// this tool names them, owned by this user, never through a link, and in them only files and
// links (a folder inside is left, and so the folder too). Returns how many were removed.
int SweepWorkFolders(const std::string& parent);

} // namespace kiv
