// Where a profile file's name leads: the Windows directory or the name's own
// directory, and the file as it is on disk.
#pragma once

#include <string>

// Where a profile file is or would be.
struct ProfileLocation {
    std::string Directory;   // the directory that holds, or will hold, the file
    std::string Name;        // the file name the caller gave
    std::string ExactPath;   // Directory and Name joined, before any case is matched
    bool InWindowsDirectory; // a bare name: the directory may be created
};

// Null for a null or empty name, or when no directory can be found. The
// places of the last two names are kept: a later call gives one again at
// once while the variables that give the Windows directory stay the same,
// and the place returned stays valid until a call places another name.
const ProfileLocation* LocateProfile(const char* fileName);
// The file's path as it is on disk: an existing file whose name matches
// ignoring case is the one used (and keeps its spelling); a new file gets
// the caller's spelling. A symbolic link is followed, so that the rename
// replaces the file, not the link; a link whose target is missing gives the
// target's path, so that a write creates the target and keeps the link.
std::string PathOnDisk(const ProfileLocation& location);

// Forgets the places kept. For tests only.
void ForgetPlacedProfilesForTests();
