// What the profile layer's read cache did, for the tests: how often a read
// went to the file and how often it split a file's bytes into lines.
#pragma once

#include <cstdint>

struct ProfileCacheStatisticsRecord {
    uint64_t FileReads; // a file's bytes were read
    uint64_t Parses;    // bytes that differed from the cached ones were split into lines
};

// Owned by posix_profile.cpp; zero at start; tests may set it back to zero.
extern ProfileCacheStatisticsRecord ProfileCacheStatistics;

// Forgets every cached file (the next read of each goes to the file).
void DropProfileCacheForTests();
