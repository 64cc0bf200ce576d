// Loads the built stand-in library by path and drives its entry points with
// hand-made records and blocks, as the launcher would.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scratch_directory.h"

namespace standin_test {

using Record = std::array<unsigned char, 255>;
using Block = std::array<unsigned char, 880>;

struct Entries {
    int32_t (*AffTexteLongC)();
    int32_t (*OV4InitInstance)(void* record, void* block);
    int32_t (*FinInstance)(void* record);
    int32_t (*OVCALLC)(void* record);
};

// The library, loaded once for the test program; fails the test when the
// library or one of its names is missing.
const Entries& Engine();
// dlopen handle of the library, for tests that unload and load it again.
void* LoadLibraryHandle();

// A request as the launcher writes it: the text, its NUL, zeros.
Record Request(const std::string& command);

// Sends a command and returns the record holding the reply.
Record Call(const std::string& command);

// A well-formed block: the 18 modules, the given components (name, text,
// number), the end byte, BodyLength set.
struct Component {
    std::string Name;
    std::string Text;
    uint16_t Number;
};
Block WellFormedBlock(const std::vector<Component>& components = {});

// A fresh folder for one test, and the files in it.
class Workspace {
  public:
    Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    std::string Path(const std::string& name) const { return folder_ / name; }
    // Writes a script and points OV_STANDIN_SCRIPT at it (scripted mode);
    // points OV_STANDIN_TRANSCRIPT at this folder's transcript.
    std::string UseScript(const std::string& text, const std::string& name = "script.txt");
    std::vector<std::string> Transcript() const;
    // Transcript lines that begin with prefix.
    std::vector<std::string> Lines(const std::string& prefix) const;

  private:
    ScratchDirectory folder_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// Runs body in a forked child with standard input read from inputPath and
// standard output and error written to outputPath and errorPath (each when
// not empty); returns the child's exit status, or -1 when it did not exit
// normally. The child ends with status 0 when body returns.
int RunInChild(const std::function<void()>& body, const std::string& inputPath, const std::string& outputPath,
               const std::string& errorPath = "");

} // namespace standin_test
