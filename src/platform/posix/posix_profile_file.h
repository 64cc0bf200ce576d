// Profile files on disk: the lock that serialises the processes editing one
// directory, and reading and replacing a file's bytes so that a failure or a
// crash never leaves a half-written file. Where a file name leads is
// posix_profile_location.h's.
#pragma once

#include <sys/stat.h>

#include <string>

#include "posix_profile_location.h"

bool DirectoryExists(const std::string& path);
// True only when the system says that no directory is at path (nothing
// there, or a component that is no directory). A status that cannot be had
// for another reason (an I/O error, a refused search) is not an absence.
bool DirectoryIsAbsent(const std::string& path);

// Serialises the read-modify-write of every process that goes through this
// layer: an advisory lock on the file's directory, so that it also covers a
// file not yet created and does not depend on the file's inode, which each
// rename replaces. Readers take it shared (LOCK_SH), writers exclusive
// (LOCK_EX). A directory we may not list is not locked: nothing can be
// created there in any case.
class DirectoryLock {
  public:
    DirectoryLock() = default;
    DirectoryLock(const std::string& directory, int operation) { Take(directory, operation); }
    ~DirectoryLock() { Release(); }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;
    // Locks directory, after releasing the lock held before.
    void Take(const std::string& directory, int operation);
    void Release();

  private:
    int descriptor_ = -1;
};

// PathOnDisk, with lock holding the directory where that file is replaced:
// the link's target's directory for a symbolic link, so that writers through
// the link and through the target's own path are serialised by one lock.
std::string LockedPathOnDisk(const ProfileLocation& location, int operation, DirectoryLock* lock);

// The rest of the open file's bytes; false on a read error.
bool ReadAll(int descriptor, std::string* bytes);

// Puts bytes in place of the file at path: a temporary file beside it,
// flushed, then renamed over it. existing is the open file (-1 for a new
// file), with its status and bytes; where the directory refuses the new
// file or the rename, existing is rewritten in place. On failure the file
// keeps its old bytes and length. A replacement also removes the temporary
// files that failed writes of this file could not remove, once stale.
bool ReplaceFile(const std::string& path, int existing, const struct stat& status, const std::string& oldBytes,
                 const std::string& bytes);
