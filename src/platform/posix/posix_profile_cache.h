// The profile layer's read cache. The launcher reads one file a dozen times
// in a row: the last few files read are kept split into lines, so that those
// reads cost one read and one parse, while every call still sees at once
// what others changed. What the cache did is counted for the tests.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "posix_profile_text.h"

// The file split into lines, from the cache when the file has not changed;
// null when it is missing or cannot be read, which a read treats as an
// empty file. The index stays valid until the next profile call.
const ProfileIndex* ReadProfileIndex(const char* fileName);
// Forgets the file at path, and any other name of the same file (status,
// when not null, gives its device and inode).
void ForgetCachedProfile(const std::string& path, const struct stat* status);

struct ProfileCacheStatisticsRecord {
    uint64_t FileReads; // a file's bytes were read
    uint64_t Parses;    // bytes that differed from the cached ones were split into lines
};

// Owned by posix_profile_cache.cpp; zero at start; tests may set it back to zero.
extern ProfileCacheStatisticsRecord ProfileCacheStatistics;

// Forgets every cached file (the next read of each goes to the file).
void DropProfileCacheForTests();
