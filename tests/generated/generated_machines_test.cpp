// Generated machines, the driver: machine after machine generated, laid,
// run and checked, with a summary, a rerun command for each failure and the
// variety the generator promises; and the tests of the oracle, the generator
// and the checks themselves. The parts are described in generated_machines.h.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/generated/generated_machines.h"

namespace generated {
namespace {

const uint64_t kDefaultStartSeed = 0x5EED2024u;
const unsigned kDefaultCount = 10000;

std::string Printable(const std::string& bytes, size_t keep = 48)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 32 && c < 127 && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    if (out.size() > 2 * keep + 5) {
        out = out.substr(0, keep) + "[...]" + out.substr(out.size() - keep);
    }
    return out;
}

std::string ActionsText(const std::vector<A>& actions)
{
    std::string text;
    for (const A& a : actions) {
        text += text.empty() ? "" : ",";
        switch (a.kind) {
        case mem::PRESS_ENTER: text += "enter"; break;
        case mem::PRESS_ESCAPE: text += "esc"; break;
        case mem::CLOSE_BOX: text += "close"; break;
        case mem::PRESS_TAB: text += "tab"; break;
        case mem::CLICK: text += "click" + std::to_string(a.controlId); break;
        case mem::ALT_KEY: text += std::string("alt-") + a.letter; break;
        }
    }
    return text;
}

// A failure's class: its first problem without the paths, with the
// machine's value variant and the call made to fail.
std::string FailureClass(const Machine& m, const std::string& problem)
{
    std::string what = problem.substr(0, problem.find(":\\") == std::string::npos
                                             ? problem.size()
                                             : problem.find(":\\") - 1);
    for (const std::string& note : m.notes) {
        if (note.compare(0, 6, "value=") == 0 || note.compare(0, 5, "fail=") == 0) {
            what += " " + note;
        }
    }
    return what;
}

// The machine on one line.
std::string Describe(const Machine& m)
{
    std::ostringstream out;
    out << "seed " << m.seed << ":";
    for (const std::string& note : m.notes) {
        out << " " << note;
    }
    out << " | Program Path " << (m.settingsKey ? (m.programPath ? "" : "(no value) ") : "(no key) ")
        << "type " << m.programPathType << " " << m.programPathBytes.size() << " bytes \""
        << Printable(m.programPathBytes) << "\" | product in " << m.installDir
        << " | started as " << m.commandLine << " in " << m.currentDirectory << " | temp \"" << Printable(m.tempPath)
        << "\" | desktop " << kFolderStateNames[m.desktopState] << " " << m.desktop
        << " | programs " << kFolderStateNames[m.programsState] << " " << m.programs
        << " | confirm [" << ActionsText(m.confirmAnswer) << "] completed ["
        << ActionsText(m.completedAnswer) << "]";
    if (!m.failOperation.empty()) {
        out << " | fail " << m.failOperation << " #" << m.failOccurrence << " error " << m.failError;
    }
    return out.str();
}

std::string TestProgram()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string("unit_tests");
}

std::string RerunCommand(uint64_t seed)
{
    return "GENERATED_MACHINES_SEED=" + std::to_string(seed) + " GENERATED_MACHINES_COUNT=1 " +
           TestProgram() + " --gtest_filter='GeneratedMachines*'";
}

uint64_t EnvNumber(const char* name, uint64_t fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 0);
    return end != nullptr && *end == '\0' ? value : fallback;
}

// The model's own faults (a deadlock, a dialog left open) become problems of
// the machine that met them, for the time of a run.
class ModelFaults {
public:
    ModelFaults()
    {
        mem::SetFailureReporter([this](const std::string& message) { faults_.push_back(message); });
    }
    ~ModelFaults()
    {
        mem::SetFailureReporter([](const std::string& message) { ADD_FAILURE() << message; });
    }
    std::vector<std::string> Take()
    {
        std::vector<std::string> taken;
        taken.swap(faults_);
        return taken;
    }

private:
    std::vector<std::string> faults_;
};

struct Outcome {
    std::vector<std::string> problems;
    Judged judged = NOT_JUDGED;
    bool handOff = false;
    bool removedSomething = false;
    bool injected = false;
};

// Generates, lays and runs one machine and checks it.
Outcome RunAndCheck(const Machine& m, ModelFaults& faults)
{
    Outcome outcome;
    LayMachine(m);
    RunMachine(m);
    const Legitimate legit = LegitimateTargets(m);
    const Expected expected = ExpectedRemovals(m, legit);
    const Excuses excuses = InjectedFailures(m, legit);
    CheckSafety(m, legit, outcome.problems);
    outcome.judged = CheckCompleteness(m, legit, expected, excuses, outcome.problems);
    for (const std::string& fault : faults.Take()) {
        outcome.problems.push_back("model fault: " + fault.substr(0, fault.find('\n')));
    }
    if (excuses.any && !outcome.problems.empty()) {
        outcome.problems.push_back("(the call made to fail: " + excuses.what + ")");
    }
    outcome.handOff = expected.handOff && !expected.declined;
    outcome.removedSomething = !mem::Changes().empty();
    outcome.injected = excuses.any;
    return outcome;
}

// A note is a promised one, or that one lengthened ("value=long-259-bytes"
// is a "value=long").
bool NoteIs(const std::string& note, const std::string& promised)
{
    return note.compare(0, promised.size(), promised) == 0 &&
           (note.size() == promised.size() || note[promised.size()] == '-');
}

class GeneratedMachinesTest : public ::testing::Test {};

TEST_F(GeneratedMachinesTest, RemoveOnlyTheProductAndAllOfItThatCanGo)
{
    const uint64_t start = EnvNumber("GENERATED_MACHINES_SEED", kDefaultStartSeed);
    const uint64_t count = EnvNumber("GENERATED_MACHINES_COUNT", kDefaultCount);
    std::printf("[ generated ] %llu machines from seed %llu%s\n",
                static_cast<unsigned long long>(count), static_cast<unsigned long long>(start),
                std::getenv("GENERATED_MACHINES_SEED") == nullptr ? " (the fixed default)" : "");

    const auto began = std::chrono::steady_clock::now();
    std::set<std::string> seen;  // every note of every machine
    std::map<std::string, std::pair<unsigned, uint64_t>> classes;  // count, first seed
    unsigned failed = 0, whole = 0, excused = 0, handOffs = 0, removing = 0, injected = 0;
    {
        ModelFaults faults;
        for (uint64_t i = 0; i < count; ++i) {
            const Machine m = GenerateMachine(start + i);
            const Outcome outcome = RunAndCheck(m, faults);
            seen.insert(m.notes.begin(), m.notes.end());
            whole += outcome.judged == JUDGED_WHOLE;
            excused += outcome.judged == JUDGED_EXCUSED;
            handOffs += outcome.handOff;
            removing += outcome.removedSomething;
            injected += outcome.injected;
            if (outcome.problems.empty()) {
                continue;
            }
            ++failed;
            std::pair<unsigned, uint64_t>& cls = classes[FailureClass(m, outcome.problems.front())];
            cls.second = cls.first++ == 0 ? m.seed : cls.second;
            std::ostringstream message;
            message << "machine " << Describe(m) << "\n";
            for (const std::string& problem : outcome.problems) {
                message << "  " << problem << "\n";
            }
            message << "rerun: " << RerunCommand(m.seed) << "\n";
            if (failed <= 3) {
                message << mem::Dump();
            }
            if (count == 1) {  // a rerun: every call, not only the dump's last ones
                message << "all calls:\n";
                for (const mem::CallRecord& call : mem::CallLog()) {
                    message << "  " << mem::Text(call) << "\n";
                }
            }
            if (failed <= 25) {
                ADD_FAILURE() << message.str();
            }
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("[ generated ] %u failed; completeness judged on %u whole and %u with an excused "
                "failure; %u with a call made to fail; %u changed something; %u handed off; "
                "%.1f s\n",
                failed, whole, excused, injected, removing, handOffs, seconds);
    for (const auto& cls : classes) {
        std::printf("[ generated ] %5u failed: %s (first seed %llu)\n", cls.second.first,
                    cls.first.c_str(), static_cast<unsigned long long>(cls.second.second));
    }
    EXPECT_EQ(failed, 0u) << "first failing machines above; each reruns alone with its command";

    // The generator must give the variety it promises, or the checks above
    // prove little: every row of its tables and every outcome it names. A
    // note that nothing promises is a way of a machine this check would
    // miss. Only a run long enough to meet every variant can tell whether
    // each was met.
    const std::vector<std::string> promised = PromisedNotes();
    for (const std::string& note : seen) {
        EXPECT_TRUE(std::any_of(promised.begin(), promised.end(),
                                [&](const std::string& p) { return NoteIs(note, p); }))
            << "note " << note << " is no table's row and no promised outcome";
    }
    if (count >= 2000) {
        for (const std::string& p : promised) {
            EXPECT_TRUE(std::any_of(seen.begin(), seen.end(),
                                    [&](const std::string& note) { return NoteIs(note, p); }))
                << "no machine had " << p;
        }
        EXPECT_GT(whole, count / 4) << "too few machines judged for completeness";
        // Fewer than a quarter: a removal that cannot finish (a product file
        // held, a setting naming another folder) hands off no longer.
        EXPECT_GT(handOffs, count / 8) << "too few machines handed off";
        EXPECT_GT(removing, count / 2) << "too few machines changed anything";
    }
}

// The oracle's reading of odd "Program Path" values, pinned: the value is a
// folder to which "\" and a name are appended.
TEST_F(GeneratedMachinesTest, OracleTakesTheValueAsTheFolderNamesAreAppendedTo)
{
    struct Case {
        const char* value;
        const char* currentDirectory;
        const char* installDir;  // "" when the value names no folder
    } cases[] = {
        {"C:\\Program Files\\Quillmere", kDocuments, "C:\\PROGRAM FILES\\QUILLMERE"},
        {"C:\\Program Files\\Quillmere\\", kDocuments, "C:\\PROGRAM FILES\\QUILLMERE"},
        {"c:/program files//QUILLMERE/", kDocuments, "C:\\PROGRAM FILES\\QUILLMERE"},
        {"C:\\Program Files\\Korrindal Tools\\Quillmere", kDocuments,
         "C:\\PROGRAM FILES\\KORRINDAL TOOLS\\QUILLMERE"},
        {"C:", kDocuments, "C:\\"},  // the root, written without its separator
        {"C:\\", kDocuments, "C:\\"},
        {"Quillmere", "C:\\Program Files", "C:\\PROGRAM FILES\\QUILLMERE"},
        {"C:Quillmere", "C:\\Program Files", "C:\\PROGRAM FILES\\QUILLMERE"},
        {"\\Quillmere", "C:\\Program Files", "C:\\QUILLMERE"},
        {"..\\Quillmere", "C:\\Program Files\\Other", "C:\\PROGRAM FILES\\QUILLMERE"},
        {"\\", kDocuments, ""},  // "\\" once a name is appended: a network path
        {"\x05", kDocuments, ""},
        {"C:\\Quill|mere", kDocuments, ""},
    };
    for (const Case& c : cases) {
        WinPath dir;
        const bool named = InstallDirectory(c.value, c.currentDirectory, dir);
        EXPECT_EQ(named ? dir.Key() : std::string(), c.installDir) << Printable(c.value);
    }

    Machine m;
    std::string text;
    m.programPathBytes = WithZero(std::string(258, 'q'));
    EXPECT_TRUE(ProgramPathText(m, text)) << "259 bytes are read";
    m.programPathBytes = std::string(259, 'q');
    EXPECT_TRUE(ProgramPathText(m, text) && text.size() == 259) << "no terminator";
    m.programPathBytes = WithZero(std::string(259, 'q'));
    EXPECT_FALSE(ProgramPathText(m, text)) << "260 bytes do not fit the reader";
    m.programPathBytes = WithZero("C:\\Quillmere") + "junk";
    EXPECT_TRUE(ProgramPathText(m, text) && text == "C:\\Quillmere") << "ends at its zero";
    m.programPathBytes = WithZero("");
    EXPECT_FALSE(ProgramPathText(m, text)) << "empty";
}

TEST_F(GeneratedMachinesTest, SameSeedGivesTheSameMachine)
{
    EXPECT_EQ(Describe(GenerateMachine(kDefaultStartSeed + 7)),
              Describe(GenerateMachine(kDefaultStartSeed + 7)));
    EXPECT_NE(Describe(GenerateMachine(kDefaultStartSeed + 7)),
              Describe(GenerateMachine(kDefaultStartSeed + 8)));
}

// The checks themselves can fail: on a machine that passes, a deletion and
// a write outside the product are reported unsafe, and a product file put
// back is reported left over.
TEST_F(GeneratedMachinesTest, ChecksReportAStrayDeletionAStrayWriteAndALeftover)
{
    ModelFaults faults;
    for (uint64_t seed = kDefaultStartSeed;; ++seed) {
        const Machine m = GenerateMachine(seed);
        const Legitimate legit = LegitimateTargets(m);
        const Expected expected = ExpectedRemovals(m, legit);
        if (!m.failOperation.empty() || expected.declined || expected.folders.empty() ||
            expected.files.size() < 3) {
            continue;
        }
        ASSERT_TRUE(RunAndCheck(m, faults).problems.empty()) << Describe(m) << mem::Dump();

        const std::string letter = std::string(kDocuments) + "\\letter.doc";
        ASSERT_TRUE(g_platform->DeleteFileA(letter.c_str()));
        ASSERT_TRUE(g_platform->CopyFileA(kBrowser, "C:\\Users\\Alice\\browser.exe", TRUE));
        const std::string leftover = *expected.files.begin();
        mem::AddFile(leftover, "put back");

        std::vector<std::string> problems;
        CheckSafety(m, legit, problems);
        CheckCompleteness(m, legit, expected, InjectedFailures(m, legit), problems);
        std::string all;
        for (const std::string& problem : problems) {
            all += problem + "\n";
        }
        EXPECT_NE(all.find("unsafe: 1 FileDeleted " + letter), std::string::npos) << all;
        EXPECT_NE(all.find("unsafe: not the product's, but gone: " + letter), std::string::npos) << all;
        EXPECT_NE(all.find("unsafe: 1 FileWritten C:\\Users\\Alice\\browser.exe"), std::string::npos)
            << all;
        EXPECT_NE(all.find("incomplete: could be deleted, still there: " + leftover), std::string::npos)
            << all;
        EXPECT_EQ(problems.size(), 4u) << all;
        return;
    }
}

}  // namespace
}  // namespace generated
