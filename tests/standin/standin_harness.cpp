// The test harness over the built library.
#include "standin_harness.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

namespace standin_test {

void* LoadLibraryHandle()
{
    void* handle = dlopen(OV_STANDIN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    return handle;
}

const Entries& Engine()
{
    static const Entries entries = [] {
        void* handle = LoadLibraryHandle();
        auto find = [handle](const char* name) {
            void* address = dlsym(handle, name);
            if (address == nullptr) throw std::runtime_error(std::string("missing entry point ") + name);
            return address;
        };
        Entries found;
        found.AffTexteLongC = reinterpret_cast<int32_t (*)()>(find("AffTexteLongC"));
        found.OV4InitInstance = reinterpret_cast<int32_t (*)(void*, void*)>(find("OV4InitInstance"));
        found.FinInstance = reinterpret_cast<int32_t (*)(void*)>(find("FinInstance"));
        found.OVCALLC = reinterpret_cast<int32_t (*)(void*)>(find("OVCALLC"));
        return found;
    }();
    return entries;
}

Record Request(const std::string& command)
{
    Record record{};
    std::memcpy(record.data(), command.data(), command.size() < 254 ? command.size() : 254);
    return record;
}

Record Call(const std::string& command)
{
    Record record = Request(command);
    Engine().OVCALLC(record.data());
    return record;
}

namespace {

struct Module {
    const char* Code;
    bool Variant1, Variant3;
    uint16_t Id, Group;
};

// The engine's modules, in block order.
const Module kModules[18] = {
    {"KRN", true, true, 0, 3},   {"GUI", true, true, 9, 0},   {"DTB", true, true, 1, 2},  {"NET", true, true, 11, 10},
    {"OUT", true, true, 13, 9},  {"BAS", true, true, 10, 8},  {"DRW", true, true, 12, 6}, {"NUM", true, true, 14, 7},
    {"BYT", true, true, 17, 11}, {"LFN", true, false, 6, 0},  {"LNG", true, true, 4, 0},  {"PIC", true, true, 5, 0},
    {"CTL", true, true, 8, 0},   {"TAB", true, true, 2, 0},   {"SYN", true, true, 15, 0}, {"QRY", true, true, 3, 0},
    {"EXT", true, true, 16, 0},  {"DRV", false, true, 18, 0},
};

struct BlockWriter {
    Block& Bytes;
    size_t At;
    void Byte(unsigned char value) { Bytes.at(At++) = value; }
    void Word(uint16_t value)
    {
        Byte(static_cast<unsigned char>(value & 0xFF));
        Byte(static_cast<unsigned char>(value >> 8));
    }
    void Text(const std::string& text)
    {
        for (char c : text)
            Byte(static_cast<unsigned char>(c));
        Byte(0);
    }
};

} // namespace

Block WellFormedBlock(const std::vector<Component>& components)
{
    Block block{};
    std::memcpy(block.data(), "KALMIR", 6);
    BlockWriter writer{block, 6};
    writer.Word(5000);
    writer.Word(0);
    for (const Module& module : kModules) {
        writer.Byte(static_cast<unsigned char>((module.Group > 0 ? 1 : 0) | (module.Group == 2 ? 2 : 0)));
        writer.Text(module.Variant1 ? std::string("OV551") + module.Code + ".DLL" : "");
        writer.Text(module.Variant3 ? std::string("OV553") + module.Code + ".DLL" : "");
        writer.Word(module.Id);
        writer.Word(module.Group);
    }
    for (const Component& component : components) {
        writer.Byte(3);
        writer.Text(component.Name);
        writer.Text(component.Text);
        writer.Word(0xFFFF);
        writer.Word(component.Number);
    }
    writer.Byte(0x80);
    const uint16_t bodyLength = static_cast<uint16_t>(writer.At - 10);
    block[8] = static_cast<unsigned char>(bodyLength & 0xFF);
    block[9] = static_cast<unsigned char>(bodyLength >> 8);
    return block;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

Workspace::Workspace() : folder_("standin")
{
    setenv("OV_STANDIN_TRANSCRIPT", Path("transcript.txt").c_str(), 1);
    unsetenv("OV_STANDIN_MAX_CALLS");
    unsetenv("OV_STANDIN_MODE");
}

std::string Workspace::UseScript(const std::string& text, const std::string& name)
{
    WriteFile(Path(name), text);
    setenv("OV_STANDIN_SCRIPT", Path(name).c_str(), 1);
    return Path(name);
}

std::vector<std::string> Workspace::Transcript() const
{
    std::vector<std::string> lines;
    std::istringstream text(ReadFile(Path("transcript.txt")));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Workspace::Lines(const std::string& prefix) const
{
    std::vector<std::string> lines;
    for (const std::string& line : Transcript())
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    return lines;
}

int RunInChild(const std::function<void()>& body, const std::string& inputPath, const std::string& outputPath,
               const std::string& errorPath)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int input = open(inputPath.c_str(), O_RDONLY);
        if (input < 0 || dup2(input, 0) < 0) _exit(100);
        if (!outputPath.empty()) {
            const int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (output < 0 || dup2(output, 1) < 0) _exit(101);
        }
        if (!errorPath.empty()) {
            const int error = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (error < 0 || dup2(error, 2) < 0) _exit(102);
        }
        body();
        std::fflush(nullptr);
        _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace standin_test
