#include "test_support.h"

#include "launcher/launcher.h"

FakeTest::Outcome FakeTest::RunLauncher()
{
    static int instanceTag;
    char tail[] = "";
    try {
        int code = WinMain(reinterpret_cast<InstanceHandle>(&instanceTag), nullptr, tail, 10);
        return {code, false};
    } catch (const fake::ProcessExit& exit) {
        return {exit.status, true};
    }
}

void FakeTest::EditorRequest(const std::string& mode, const std::string& directory, const std::string& param1)
{
    fake::SetProfile("Orvane.ini", "TEST", "LIGNEDECOMMANDE", "OVTST552.EXE /TEST");
    fake::SetProfile("Orvane.ini", "TEST", "COMMANDE", "EDITEUR");
    fake::SetProfile("Orvane.ini", "TEST", "REPEXE", Path({"", "opt", "orvane"}));
    fake::SetProfile("Orvane.ini", "TEST", "REPCOURANT", directory);
    fake::SetProfile("Orvane.ini", "TEST", "PARAM1", param1);
    fake::SetProfile("Orvane.ini", "TEST", "PARAM2", mode);
}

std::vector<std::string> FakeTest::CommandsAfterEnvironment()
{
    auto& all = fake::state.commands;
    if (all.empty()) return {};
    return std::vector<std::string>(all.begin() + 1, all.end());
}

std::string Path(const std::vector<std::string>& parts)
{
    std::string path;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) path += kPathSeparator;
        path += parts[i];
    }
    return path;
}

const char kStop[] = "(stop)";

std::vector<std::string> CommandTrace()
{
    std::vector<std::string> trace;
    for (const auto& line : fake::state.log) {
        if (line.compare(0, 8, "OVCALLC ") == 0) trace.push_back(line.substr(8));
        if (line == "FinInstance") trace.push_back(kStop);
    }
    return trace;
}
