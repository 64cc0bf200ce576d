// The table of observed profile calls (data/profile-cases.tsv), one test per
// row: a fresh Windows directory, the row's initial bytes, its one call, then
// the return value, the buffer, the file's bytes and the directory's matching
// names compared with the row. Where this layer follows Windows rather than
// the Wine run that made the table, or chose on its own where Windows was not
// established, the expected result is given below with the reason.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform.h"
#include "posix_paths.h"
#include "posix_test_support.h"

using namespace std::string_literals;

namespace {

struct CaseRow {
    std::string Id, Api, File, Disk, Setup, Op;   // as in the table
    std::optional<std::string> Initial;           // nullopt for MISSING
    std::optional<std::string> Section, Key, Arg; // nullopt for NULL
    uint32_t Size = 0;                            // READ only
    int32_t Ret = 0;
    std::string Buffer;                   // READ only
    std::optional<std::string> FileAfter; // nullopt for MISSING
    std::string FilesAfter, WindowsNote;
};

// ctest and failure messages name a row by its id.
void PrintTo(const CaseRow& row, std::ostream* out) { *out << row.Id; }

std::optional<std::string> Decoded(const std::string& field)
{
    if (field == "NULL" || field == "MISSING") return std::nullopt;
    return DecodeEscaped(field);
}

std::vector<CaseRow> LoadCases()
{
    std::vector<CaseRow> rows;
    std::ifstream in(OV_PROFILE_CASES);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line.rfind("id\t", 0) == 0) continue;
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');)
            f.push_back(field);
        if (f.size() != 18) continue; // CountsEveryRow reports it
        CaseRow row;
        row.Id = f[0];
        row.Api = f[2];
        row.File = f[3] == "-" ? "" : DecodeEscaped(f[3]);
        row.Disk = f[4];
        row.Setup = f[5];
        row.Initial = Decoded(f[6]);
        row.Op = f[7];
        row.Section = Decoded(f[8]);
        row.Key = Decoded(f[9]);
        row.Arg = Decoded(f[10]);
        row.Size = f[11] == "-" ? 0 : static_cast<uint32_t>(std::stoul(f[11]));
        row.Ret = std::stoi(f[12]);
        row.Buffer = f[13] == "-" ? "" : DecodeEscaped(f[13]);
        row.FileAfter = Decoded(f[14]);
        row.FilesAfter = f[15];
        row.WindowsNote = f[17];
        rows.push_back(row);
    }
    return rows;
}

const std::vector<CaseRow>& Cases()
{
    static const std::vector<CaseRow> rows = LoadCases();
    return rows;
}

// What this layer gives where it differs from the table.
struct Departure {
    std::optional<int32_t> Ret;
    std::optional<std::string> Buffer;
    std::optional<std::optional<std::string>> FileAfter;
};

// Rows marked "not established" that are not listed here keep the table's
// (Wine's) result on purpose: R09 R10 R11 (the default's tabs, leading
// blanks, quotes), T12, C03 (no non-ASCII folding), D03 (first section
// only), B03 (a value ends at NUL), W07 (new key after a trailing comment),
// W12 W13 (spacing and spelling of a replaced line), V03 (leading blanks of
// the value), X05 (a deleted section takes its comments). X04 keeps Wine's
// result too: deleting in a missing file creates no empty file.
const std::map<std::string, Departure>& Departures()
{
    static const std::map<std::string, Departure> departures = {
        // Quotes are removed before the cut: the 9 inner bytes fit in 10,
        // as the 2 of a quoted value or default fit in 3.
        {"T13", {9, "012345678"s, {}}},
        {"K04", {2, "ab"s, {}}},
        {"K05", {2, "ab"s, {}}},
        // Only the touched lines change: the blank line before the new
        // section, and the one between the sections, stay.
        {"W04", {{}, {}, "[Setup]\r\nPath=v\r\n\r\n[Other]\r\nMode=2\r\n"s}},
        {"W06", {{}, {}, "[Setup]\r\nPath=v\r\nMode=2\r\n\r\n[Other]\r\nX=1\r\n"s}},
        // Windows keeps the other lines as they were; the replaced line keeps
        // its own line break (LF in W16).
        {"W15",
         {{},
          {},
          "; top comment\r\n\r\n[Setup]\r\n  ; indented comment\r\nPath=w\r\nFlag\r\n\r\n[Other]\r\nfoo = bar \r\n\r\n"s}},
        {"W16", {{}, {}, "; top\n[Setup]\nPath=w\n\n[Other]\nfoo = bar\n"s}},
        // An untouched line keeps its bytes after a NUL.
        {"V10", {{}, {}, "[Setup]\r\nPath=ab\0cd\r\nMode=3\r\n"s}},
        // No registry: [windows] is a file section like any other.
        {"I06", {{}, {}, "[mail]\r\nMAPI=1\r\n[windows]\r\nOrvaneRunning=1\r\n"s}},
    };
    return departures;
}

// "Windows differs: file_after is "..."" gives the bytes Windows leaves.
std::optional<std::string> WindowsFileAfter(const std::string& note)
{
    const std::string marker = "file_after is ";
    const size_t at = note.find(marker);
    if (at == std::string::npos) return std::nullopt;
    return DecodeEscaped(note.substr(at + marker.size()));
}

// "WINDIR\x", "CWD\x" and "C:\dir\x" as paths in the scratch directory.
std::string MapPath(const std::string& tablePath, const ScratchDirectory& scratch)
{
    std::string path = WithPosixSeparators(tablePath.c_str());
    if (path.rfind("WINDIR/", 0) == 0) return scratch / ("windir/" + path.substr(7));
    if (path.rfind("CWD/", 0) == 0) return scratch / ("cwd/" + path.substr(4));
    if (path.rfind("C:/", 0) == 0) return scratch / path.substr(3);
    return path;
}

// "symlink PLACE -> TARGET": the link's path, and the target it holds (a
// relative one as written, an absolute one mapped like a path of the table).
struct LinkSetup {
    std::string Place, Target;
};

std::optional<LinkSetup> LinkOf(const std::string& setup, const ScratchDirectory& scratch)
{
    const std::string prefix = "symlink ", arrow = " -> ";
    const size_t at = setup.find(arrow);
    if (setup.rfind(prefix, 0) != 0 || at == std::string::npos) return std::nullopt;
    const std::string target = setup.substr(at + arrow.size());
    const bool absolute = target.rfind("WINDIR\\", 0) == 0 || target.rfind("C:\\", 0) == 0;
    return LinkSetup{MapPath(setup.substr(prefix.size(), at - prefix.size()), scratch),
                     absolute ? MapPath(target, scratch) : WithPosixSeparators(target.c_str())};
}

class ProfileCase : public testing::TestWithParam<CaseRow> {};

TEST_P(ProfileCase, MatchesTheObservedCall)
{
    const CaseRow& row = GetParam();
    ScratchDirectory scratch;
    const std::string windir = scratch / "windir";
    MakeDirectory(windir);
    MakeDirectory(scratch / "cwd");
    ScopedEnvironment environment("WINDIR", windir.c_str());
    ScopedCurrentDirectory here(scratch / "cwd");

    const std::string diskPath = MapPath(row.Disk, scratch);
    MakeDirectory(DirectoryPart(diskPath));
    if (row.Initial) WriteBytes(diskPath, *row.Initial);
    if (row.Setup == "readonly-file") chmod(diskPath.c_str(), 0444);
    const std::optional<LinkSetup> link = LinkOf(row.Setup, scratch);
    if (link) {
        ASSERT_EQ(symlink(link->Target.c_str(), link->Place.c_str()), 0) << link->Place;
    }
    const bool ownDirectory = row.Disk.rfind("C:\\", 0) == 0;
    if (ownDirectory) chmod(DirectoryPart(diskPath).c_str(), 0555);
    // Root ignores both modes: the call then runs in a child without that.
    const bool restricted = ownDirectory || row.Setup == "readonly-file";

    const std::string fileName = ownDirectory ? MapPath(row.File, scratch) : row.File;
    const char* section = row.Section ? row.Section->c_str() : nullptr;
    const char* key = row.Key ? row.Key->c_str() : nullptr;
    const char* arg = row.Arg ? row.Arg->c_str() : nullptr;
    const bool winIni = row.Api == "winini";

    int32_t ret = 0;
    std::vector<char> buffer(row.Size + 16, '\xAA');
    if (row.Op == "READ") {
        ret = static_cast<int32_t>(
            winIni ? OsGetProfileString(section, key, arg, buffer.data(), row.Size)
                   : OsGetPrivateProfileString(section, key, arg, buffer.data(), row.Size, fileName.c_str()));
    } else {
        auto write = [&] {
            return winIni ? OsWriteProfileString(section, key, arg)
                          : OsWritePrivateProfileString(section, key, arg, fileName.c_str());
        };
        ret = restricted ? RunWithoutFileOverride(write) : write();
    }

    Departure expected;
    const auto departure = Departures().find(row.Id);
    if (departure != Departures().end()) expected = departure->second;
    if (!expected.FileAfter) {
        if (std::optional<std::string> windows = WindowsFileAfter(row.WindowsNote)) expected.FileAfter = windows;
    }

    EXPECT_EQ(ret, expected.Ret.value_or(row.Ret));
    if (row.Op == "READ") {
        EXPECT_EQ(std::string(buffer.data()), expected.Buffer.value_or(row.Buffer));
        for (size_t i = row.Size; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], '\xAA') << "byte " << i << " is past the buffer's size";
    }

    // Behind a link, the file is its target.
    const std::string resultDirectory = ownDirectory || link ? DirectoryPart(diskPath) : windir;
    const std::string askedName = link ? FileNamePart(diskPath) : winIni ? "win.ini" : FileNamePart(fileName);
    if (link) {
        struct stat status;
        EXPECT_TRUE(lstat(link->Place.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) << "the link was replaced";
        char target[4096] = {};
        EXPECT_EQ(readlink(link->Place.c_str(), target, sizeof target - 1), static_cast<ssize_t>(link->Target.size()));
        EXPECT_EQ(std::string(target), link->Target);
    }
    std::string filesAfter;
    for (const std::string& name : ListDirectory(resultDirectory)) {
        if (EqualIgnoringAsciiCase(name, askedName)) filesAfter += (filesAfter.empty() ? "" : ",") + name;
    }
    const std::optional<std::string> fileAfter = filesAfter.empty() || filesAfter.find(',') != std::string::npos
                                                     ? std::nullopt
                                                     : ReadBytes(JoinPath(resultDirectory, filesAfter));
    EXPECT_EQ(filesAfter.empty() ? "-" : filesAfter, row.FilesAfter);
    const std::optional<std::string> wanted = expected.FileAfter ? *expected.FileAfter : row.FileAfter;
    EXPECT_EQ(fileAfter, wanted);
}

TEST(ProfileCaseTable, CountsEveryRow) { EXPECT_EQ(Cases().size(), 112u); }

INSTANTIATE_TEST_SUITE_P(Observed, ProfileCase, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<CaseRow>& info) { return info.param.Id; });

} // namespace
