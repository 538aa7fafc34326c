#pragma once

#include <QString>

namespace pv {

// The program's own data and settings are the user's alone: folders 0700, files 0600, whatever the
// umask. A mode that cannot be set is logged and reported as false, never thrown: a file that stays
// readable is no reason not to measure.

// Creates the folder and its missing parents as 0700 (std::filesystem::filesystem_error when it
// cannot). An existing folder is tightened to 0700 only when tightenExisting is set (the program's own
// folders, never one the user pointed it at).
bool makePrivateFolder(const QString& folder, bool tightenExisting);

// Sets an existing file to 0600; a missing one is left missing (false only when chmod failed).
bool makePrivateFile(const QString& path);

} // namespace pv
