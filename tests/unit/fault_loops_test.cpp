// Whole runs with every platform call failing in turn. Each run is made once
// to count its calls of each kind (K); then, for N = 1 to K, call N of one
// kind fails, alone and with every later call of its kind, and the run is
// checked for what must hold whatever fails: exit code 0 (or the box and
// exit(0) when the library fails), settings keys the run has no reason to
// touch unchanged, the error report complete in its order or the user told
// of the failed write, no entry point of an incomplete load called, every
// start-up block freed, and every start matched by a stop.
#include <algorithm>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "test_support.h"

using fake::CallKind;
using fake::Reply;
using fake::state;

namespace {

const char kWriteFailedFrench[] = "INFO,Impossible d'\xE9"
                                  "crire dans ORVANE.INI.\nFichier prot\xE9g\xE9 ou d\xE9passant 64Ko";
const char kWriteFailedEnglish[] = "INFO,Can not be able to write to ORVANE.INI.\nFile protect or size exceed 64Ko";
const char* const kReportKeys[] = {"CR", "NLIGNE", "NCOL", "NOMPROC", "MESSAGE", "NOMFEN", "NOMOBJET", "TYPEOBJET"};
const char kBoxLine[] = "MessageBox ERROR: APPELOV: Init failed type=0";
const char kMissing[] = "<missing>";

constexpr int kKindCount = static_cast<int>(CallKind::Count);

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsWriteFailedMessage(const std::string& line)
{
    return line == std::string("OVCALLC ") + kWriteFailedFrench ||
           line == std::string("OVCALLC ") + kWriteFailedEnglish;
}

// "FILE SECTION KEY" of a profile log line's subject, and the value written.
struct ProfileEvent {
    std::string verb, where, value;
};

// Splits "Write F S K=V", "Delete F S K" and "WriteFailed F S K" lines; false
// for any other line.
bool ParseProfileEvent(const std::string& line, ProfileEvent* event)
{
    for (const char* verb : {"Write ", "Delete ", "WriteFailed "}) {
        if (!StartsWith(line, verb)) continue;
        event->verb = std::string(verb, std::strlen(verb) - 1);
        std::string rest = line.substr(std::strlen(verb));
        event->value.clear();
        if (event->verb == "Write") {
            const size_t equals = rest.find('=');
            event->value = rest.substr(equals + 1);
            rest.resize(equals);
        }
        // File names are kept in lower case by the fake.
        for (size_t i = 0; i < rest.size() && rest[i] != ' '; ++i)
            if (rest[i] >= 'A' && rest[i] <= 'Z') rest[i] = static_cast<char>(rest[i] - 'A' + 'a');
        event->where = rest;
        return true;
    }
    return false;
}

using Files = std::map<std::string, std::vector<fake::ProfileEntry>>;

std::string Where(const std::string& file, const fake::ProfileEntry& entry)
{
    return file + " " + entry.section + " " + entry.key;
}

std::string ValueIn(const Files& files, const std::string& where)
{
    for (const auto& file : files)
        for (const auto& entry : file.second)
            if (Where(file.first, entry) == where) return entry.value;
    return kMissing;
}

// What the fault-free run did, against which each failing run is judged.
struct Baseline {
    uint32_t calls[kKindCount] = {};
    Files before;                                            // the settings files as the run found them
    std::map<std::string, std::set<std::string>> written;    // values each key was given (kMissing: deleted)
    std::vector<std::pair<std::string, std::string>> report; // report keys and values, in order
    bool endedByExit = false;
};

class FaultLoopsTest : public FakeTest {
  protected:
    struct Scenario {
        const char* name;
        std::function<void(FaultLoopsTest&)> setUp;
    };

    // Runs the scenario once without faults, then every fault of every kind
    // it makes calls of; returns the baseline for the scenario's own checks.
    Baseline Loop(const Scenario& scenario)
    {
        Baseline baseline = Record(scenario);
        EXPECT_EQ("", Check(baseline, false)) << scenario.name << " without faults";
        std::ostringstream counts;
        size_t runs = 0;
        std::vector<std::string> problems;
        for (int kind = 0; kind < kKindCount; ++kind) {
            const uint32_t k = baseline.calls[kind];
            counts << " " << fake::CallKindName(static_cast<CallKind>(kind)) << "=" << k;
            RecordProperty(std::string("K_") + fake::CallKindName(static_cast<CallKind>(kind)), static_cast<int>(k));
            for (uint32_t n = 1; n <= k; ++n) {
                for (bool fromThenOn : {false, true}) {
                    Prepare(scenario);
                    state.faults.kind = static_cast<CallKind>(kind);
                    state.faults.failAt = n;
                    state.faults.fromThenOn = fromThenOn;
                    const std::string problem = Check(baseline, true);
                    ++runs;
                    if (!problem.empty())
                        problems.push_back(std::string(fake::CallKindName(static_cast<CallKind>(kind))) + " N=" +
                                           std::to_string(n) + (fromThenOn ? " onwards" : " once") + ": " + problem);
                }
            }
        }
        RecordProperty("runs", static_cast<int>(runs));
        std::cout << "[ fault loop ] " << scenario.name << ": K" << counts.str() << "; " << runs << " runs, "
                  << problems.size() << " failed\n";
        std::string shown;
        for (size_t i = 0; i < problems.size() && i < 20; ++i)
            shown += "\n  " + problems[i];
        EXPECT_TRUE(problems.empty()) << scenario.name << ": " << problems.size() << " of " << runs
                                      << " runs broke a rule" << shown;
        // The fake is left as the fault-free run leaves it.
        Prepare(scenario);
        RunLauncher();
        return baseline;
    }

  private:
    void Prepare(const Scenario& scenario)
    {
        fake::Reset();
        scenario.setUp(*this);
    }

    Baseline Record(const Scenario& scenario)
    {
        Prepare(scenario);
        Baseline baseline;
        baseline.before = state.files;
        baseline.endedByExit = RunLauncher().endedByExit;
        std::copy(std::begin(state.faults.calls), std::end(state.faults.calls), baseline.calls);
        ProfileEvent event;
        for (const auto& line : state.log) {
            if (!ParseProfileEvent(line, &event) || event.verb == "WriteFailed") continue;
            baseline.written[event.where].insert(event.verb == "Write" ? event.value : kMissing);
        }
        baseline.report = ReportWrites();
        return baseline;
    }

    // The report keys the run wrote or deleted after "DFTOCS", in order,
    // with the value ("!" for a write that failed).
    static std::vector<std::pair<std::string, std::string>> ReportWrites()
    {
        std::vector<std::pair<std::string, std::string>> writes;
        bool described = false;
        ProfileEvent event;
        for (const auto& line : state.log) {
            if (line == "OVCALLC DFTOCS") described = true;
            if (!described || !ParseProfileEvent(line, &event)) continue;
            for (const char* key : kReportKeys) {
                if (event.where != std::string("orvane.ini TEST ") + key) continue;
                writes.emplace_back(key, event.verb == "Write"    ? event.value
                                         : event.verb == "Delete" ? std::string(kMissing)
                                                                  : std::string("!"));
            }
        }
        return writes;
    }

    // Runs the launcher as prepared and returns the first rule it broke,
    // or "" when it broke none.
    std::string Check(const Baseline& baseline, bool run)
    {
        const Outcome outcome = run ? RunLauncher() : Outcome{0, baseline.endedByExit};
        const auto& log = state.log;
        auto has = [&](const std::string& prefix) {
            return std::any_of(log.begin(), log.end(), [&](const std::string& l) { return StartsWith(l, prefix); });
        };

        // Exit code 0 on every path; the process ends through exit only
        // after the box of a library that cannot be used.
        if (outcome.exitCode != 0) return "exit code " + std::to_string(outcome.exitCode);
        const long boxes = std::count(log.begin(), log.end(), std::string(kBoxLine));
        if (outcome.endedByExit != (boxes == 1) || boxes > 1)
            return "ended by exit: " + std::to_string(outcome.endedByExit) + ", boxes: " + std::to_string(boxes);
        if (outcome.endedByExit && log.back() != "ExitProcess 0") return "the box was not followed by exit(0)";

        // No entry point of a load that failed part way is called.
        bool broken = false;
        for (const auto& line : log) {
            if (StartsWith(line, "LoadLibrary ")) broken = false;
            if (StartsWith(line, "Fault LibraryLoad ") || StartsWith(line, "Fault SymbolLookup ")) broken = true;
            if (broken && (StartsWith(line, "OV4InitInstance") || StartsWith(line, "OVCALLC") ||
                           line == "FinInstance" || line == "AffTexteLongC"))
                return "after a failed load: " + line;
        }

        if (state.liveGlobalBlocks != 0) return std::to_string(state.liveGlobalBlocks) + " start-up blocks not freed";

        // Starts and stops pair up. The one instance that may outlive the
        // run is the one started for the message of a failed write after
        // the last stop: it ends with the process.
        bool started = false;
        bool awaitingFirstCommand = false;
        std::string firstCommandOfLast;
        int refused = 0;
        for (const auto& line : log) {
            if (StartsWith(line, "OV4InitInstance")) {
                const bool accepted = line.compare(line.size() - 5, 5, " -> 0") != 0;
                if (!accepted) {
                    ++refused;
                    continue;
                }
                if (started) return "a second start without a stop";
                started = true;
                awaitingFirstCommand = true;
            } else if (line == "FinInstance") {
                if (!started) return "a stop without a start";
                started = false;
            } else if (awaitingFirstCommand && StartsWith(line, "OVCALLC ")) {
                firstCommandOfLast = line;
                awaitingFirstCommand = false;
            }
        }
        if (started && !IsWriteFailedMessage(firstCommandOfLast))
            return "an instance left running, started for: " + firstCommandOfLast;
        if (state.libraryReferences != (started ? 1 : 0) + refused)
            return std::to_string(state.libraryReferences) + " library references left";

        // A failed settings write is told: the next command is the message,
        // unless the engine could not be loaded to send it.
        for (size_t i = 0; i < log.size(); ++i) {
            if (!StartsWith(log[i], "WriteFailed Orvane.ini ")) continue;
            auto next = std::find_if(log.begin() + static_cast<long>(i) + 1, log.end(),
                                     [](const std::string& l) { return StartsWith(l, "OVCALLC "); });
            const bool told = next != log.end() && IsWriteFailedMessage(*next);
            const bool noEngine = next == log.end() && outcome.endedByExit;
            if (!told && !noEngine) return "not told of: " + log[i];
        }

        // Settings: keys the run has no reason to touch keep their value
        // and order; the others hold their old value or one the run writes.
        for (const auto& file : {"orvane.ini", "win.ini"}) {
            std::vector<std::string> untouchedBefore, untouchedAfter;
            for (const Files* files : {&baseline.before, static_cast<const Files*>(&state.files)}) {
                auto found = files->find(file);
                if (found == files->end()) continue;
                for (const auto& entry : found->second) {
                    if (baseline.written.count(Where(file, entry)) == 0)
                        (files == &state.files ? untouchedAfter : untouchedBefore)
                            .push_back(Where(file, entry) + "=" + entry.value);
                }
            }
            if (untouchedBefore != untouchedAfter) return std::string("untouched keys changed in ") + file;
        }
        for (const auto& touched : baseline.written) {
            const std::string now = ValueIn(state.files, touched.first);
            const bool allowed = now == ValueIn(baseline.before, touched.first) || touched.second.count(now) != 0 ||
                                 // published as read: a read given the default publishes ""
                                 (touched.first == "win.ini Orvane55 LIGNEDECOMMANDE" && now.empty());
            if (!allowed) return touched.first + " holds " + now;
        }

        // Once the engine has described the error, the report follows in
        // its order with the values of the fault-free run; a write that
        // fails was told above. Only exit through the box cuts it short.
        const auto report = ReportWrites();
        const bool described = has("OVCALLC DFTOCS");
        if (described) {
            if (report.size() > baseline.report.size() ||
                (report.size() < baseline.report.size() && !outcome.endedByExit))
                return "report of " + std::to_string(report.size()) + " keys";
            for (size_t i = 0; i < report.size(); ++i) {
                if (report[i].first != baseline.report[i].first) return "report key " + report[i].first;
                if (report[i].second != "!" && report[i].second != baseline.report[i].second)
                    return report[i].first + " written as " + report[i].second;
            }
        } else if (!baseline.report.empty() && !outcome.endedByExit) {
            // Without COMMANDE the launcher is not the editor's; without
            // PARAM2 no test runs: only such a read may lose the report.
            bool requestLost = false;
            for (size_t i = 1; i < log.size(); ++i)
                if (StartsWith(log[i], "Fault ProfileRead") && (log[i - 1] == "Read Orvane.ini TEST COMMANDE 300" ||
                                                                log[i - 1] == "Read Orvane.ini TEST PARAM2 300"))
                    requestLost = true;
            if (!requestLost) return "the report was never written";
        }
        return "";
    }

  public:
    using FakeTest::EditorRequest;

    static void WithComponents()
    {
        fake::SetProfile("Orvane.ini", "COMPOSANTE", "COMPOSANTE_0", "GRAPH,Graphiques,3");
        fake::SetProfile("Orvane.ini", "OTHER", "KEY", "kept");
        fake::SetProfile("win.ini", "mail", "MAPI", "1");
    }
};

const char kDescription[] = "12,CLIENTS,BTN_OK.PRO,Division par z\xE9ro";

TEST_F(FaultLoopsTest, WindowTestEndingInAnErrorReport)
{
    const Baseline baseline = Loop(
        {"window test ending in an error report", [](FaultLoopsTest& test) {
             test.EditorRequest("F");
             WithComponents();
             fake::SetProfile("Orvane.ini", "TEST", "NOMFEN", "OLDFEN");
             state.replies = {Reply(), Reply(), Reply::Key("*E*"), Reply::Text(0, "O"), Reply::Text(0, kDescription)};
         }});
    ASSERT_EQ(8u, baseline.report.size());
    EXPECT_EQ("CLIENTS", baseline.report[5].second);
}

TEST_F(FaultLoopsTest, ProjectTestOverSeveralScreens)
{
    Loop({"project test over several screens", [](FaultLoopsTest& test) {
              test.EditorRequest("P");
              WithComponents();
              state.replies = {Reply(),
                               Reply::Key("F2"),
                               Reply(),
                               Reply::Text(1, "1"),
                               Reply::Key("*M*"),
                               Reply(),
                               Reply::Text(1, "2"),
                               Reply::Key("AF4"),
                               Reply()};
          }});
    EXPECT_EQ(3u, std::count_if(state.commands.begin(), state.commands.end(), [](const std::string& c) {
                  return StartsWith(c, "ECRAN,SAISIE") || StartsWith(c, "PROGRAMME,");
              }));
}

TEST_F(FaultLoopsTest, ConsoleWithATypedAndARefusedLine)
{
    Loop({"console with a typed and a refused line", [](FaultLoopsTest& test) {
              // On drive A: the console probes the drive and changes to it.
              test.EditorRequest("I", "A:/work/t");
              state.existingPaths.insert("A:.");
              state.replies = {Reply(), Reply(), Reply(), Reply()};
              auto pass = [](const Reply& input) {
                  state.replies.insert(state.replies.end(), 4, Reply());
                  state.replies.push_back(input);
              };
              pass(Reply::Key("RET"));
              state.replies.insert(state.replies.end(), {Reply::Text(0, "INFO,bonjour"), Reply::Text(0, "INFO,bonjour"),
                                                         Reply(), Reply::Key("RET")});
              pass(Reply::Key("RET"));
              state.replies.insert(state.replies.end(), {Reply::KeyAndText("RET", 0, "TEST,x"), Reply(), Reply()});
              pass(Reply::Key("ESC"));
          }});
    const auto& commands = state.commands;
    EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(), "INFO,bonjour"));
    EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(), "INFO,Fonction interdite"));
    EXPECT_EQ(3u, fake::LogLines("ChangeDrive 1").size());
}

TEST_F(FaultLoopsTest, StandAloneStart)
{
    Loop({"stand-alone start", [](FaultLoopsTest&) {
              WithComponents();
              fake::SetProfile("Orvane.ini", "TEST", "LIGNEDECOMMANDE", "OVTST552.EXE /EARLIER");
              fake::SetProfile("Orvane.ini", "Orvane55", "LANGUAGE", "US");
              state.modulePath = Path({"", "opt", "orvane", "OVTST552.EXE"});
          }});
    EXPECT_EQ("NATION,3", state.commands.at(3));
}

TEST_F(FaultLoopsTest, StartWithoutEngineLibrary)
{
    const Baseline baseline = Loop({"start with no engine library", [](FaultLoopsTest& test) {
                                        test.EditorRequest("F");
                                        state.libraryPresent = false;
                                    }});
    EXPECT_TRUE(baseline.endedByExit);
}

TEST_F(FaultLoopsTest, StartWhoseFirstEngineStartIsRefused)
{
    Loop({"start whose first engine start is refused", [](FaultLoopsTest& test) {
              test.EditorRequest("F");
              WithComponents();
              state.initResults = {0};
              state.replies = {Reply::Key("ESC")};
          }});
    EXPECT_EQ(2u, fake::LogLines("OV4InitInstance").size());
}

} // namespace
