// udmhost's promises on its command line: outputs never replace each other
// or the input, a failure is never an exit code 0, no temporary outlives a
// run, and what the user typed wrong is named.
#include <gtest/gtest.h>

#include "cli_folder.h"
#include "command_output.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Result = CommandResult;

// `command` runs under /bin/sh; udmhost is $U in it.
Result shell(const std::string& command) { return runCommand("U='" UDMHOST_PATH "'; " + command); }

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

using Names = std::vector<std::string>;

class ReliabilityCli : public CliFolderTest {
protected:
    ReliabilityCli() : CliFolderTest("udmhost_reliability_") {}
};

}  // namespace

TEST_F(ReliabilityCli, OutputsNamingOneFileAreRefusedBeforeTheRun) {
    const std::string netlistText = slurp(netlist("rc.cir", SAMPLE_GOOD, ".include parts.inc\n"));
    write("parts.inc", "R9 out 0 1meg\n");
    write("old.csv", "kept\n");
    fs::create_symlink("old.csv", dir_ / "link.csv");
    struct Case {
        std::string arguments, first, second;
    };
    const std::vector<Case> cases = {
        {"-o x.csv --raw x.csv", "-o x.csv", "--raw x.csv"},
        {"-o x.csv --events ./x.csv", "-o x.csv", "--events ./x.csv"},
        {"--raw x.raw --plot ../" + dir_.filename().string() + "/x.raw", "--raw x.raw", "--plot ../"},
        {"-o old.csv --events link.csv", "-o old.csv", "--events link.csv"},  // one file through a link
        {"-o rc.cir", "-o rc.cir", "the netlist rc.cir"},
        {"--raw ./parts.inc", "--raw ./parts.inc", "parts.inc"},  // a file the netlist includes
    };
    for (const Case& c : cases) {
        const Result r = shell(in("$U run rc.cir " + c.arguments));
        EXPECT_EQ(r.exitCode, 1) << c.arguments << "\n" << r.output;
        EXPECT_TRUE(contains(r.output, c.first) && contains(r.output, c.second)) << c.arguments << "\n" << r.output;
        EXPECT_FALSE(contains(r.output, "time,")) << "the run went ahead: " << c.arguments;
        EXPECT_EQ(leftOver({"rc.cir", "parts.inc", "old.csv", "link.csv"}), Names{}) << c.arguments;
    }
    EXPECT_EQ(slurp(dir_ / "rc.cir"), netlistText);
    EXPECT_EQ(slurp(dir_ / "parts.inc"), "R9 out 0 1meg\n");
    EXPECT_EQ(slurp(dir_ / "old.csv"), "kept\n");
    // Distinct files and shared devices are fine.
    const Result distinct = shell(in("$U run rc.cir -o a.csv --raw a.raw --events /dev/null"));
    EXPECT_EQ(distinct.exitCode, 0) << distinct.output;
}

TEST_F(ReliabilityCli, AFailedWriteOrAnEndedRunIsNeverASuccessAndLeavesNoTemporary) {
    netlist("rc.cir", SAMPLE_GOOD);
    const Names kept = {"rc.cir"};
    // gnuplot exits with 0 after failing to write its image to a full device.
    if (shell("command -v gnuplot").exitCode == 0) {
        const Result full = shell(in("$U run rc.cir -o out.csv --plot /dev/full"));
        EXPECT_EQ(full.exitCode, 1) << full.output;
        EXPECT_TRUE(contains(full.output, "/dev/full")) << full.output;
        const Result fine = shell(in("$U run rc.cir -o out.csv --plot out.png"));
        EXPECT_EQ(fine.exitCode, 0) << fine.output;
        EXPECT_EQ(slurp(dir_ / "out.png").substr(1, 3), "PNG");
        fs::remove(dir_ / "out.csv");
        fs::remove(dir_ / "out.png");
    }
    // Past the file size limit (1 block of 512 bytes) a write fails as on a full disk.
    const Result big = shell(in("ulimit -f 1 && $U run rc.cir -o out.csv"));
    EXPECT_EQ(big.exitCode, 1) << big.output;
    EXPECT_TRUE(contains(big.output, "out.csv") && contains(big.output, "too large")) << big.output;
    EXPECT_EQ(leftOver(kept), Names{});

    // A plug-in that ends the process in the middle of a call.
    netlist("exits.cir", SAMPLE_EXITS);
    const Result exits = shell(in("$U run exits.cir -o out.csv --raw out.raw"));
    EXPECT_EQ(exits.exitCode, 1) << exits.output;
    EXPECT_TRUE(contains(exits.output, "Yr") && contains(exits.output, "evaluate")) << exits.output;
    EXPECT_EQ(leftOver({"rc.cir", "exits.cir"}), Names{});

    // A hangup while the outputs are open removes them, as Ctrl-C does.
    netlist("slow.cir", SAMPLE_GOOD, "", ".tran 1u 100m 0 10n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(dir_.c_str()) != 0) _exit(99);
        std::freopen("/dev/null", "w", stderr);
        execl(UDMHOST_PATH, UDMHOST_PATH, "run", "slow.cir", "-o", "slow.csv", "--raw", "slow.raw", nullptr);
        _exit(98);
    }
    const Names inputs = {"rc.cir", "exits.cir", "slow.cir"};
    bool started = false;
    for (int i = 0; i < 3000 && !started; ++i) {  // until both temporaries exist
        started = leftOver(inputs).size() == 2;
        if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, started ? SIGHUP : SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(started) << "the run never opened its outputs";
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGHUP);
    EXPECT_EQ(leftOver(inputs), Names{});
}

TEST_F(ReliabilityCli, MalformedNamesAndNestingAreRefusedWithWhatIsWrong) {
    // A NUL and other control characters inside a name.
    for (const std::string& bad : {std::string("in\0x", 4), std::string("in\x01x"), std::string("in\x1bx")}) {
        write("ctl.cir", "ctl\nV1 " + bad + " 0 1\nR1 " + bad + " 0 1k\n.tran 1u 10u\n");
        const Result r = shell(in("$U run ctl.cir"));
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_TRUE(contains(r.output, "ctl.cir:2:6: control character 0x")) << r.output;
    }
    // Distinct subcircuits each inside the next: 64 levels run, 65 are refused for their depth.
    auto nested = [&](int levels) {
        std::string text = "deep\n";
        for (int k = 0; k < levels; ++k) {
            text += ".subckt s" + std::to_string(k) + " a\n";
            text += k + 1 < levels ? "X1 a s" + std::to_string(k + 1) + "\n" : "R1 a 0 1k\n";
            text += ".ends\n";
        }
        write("deep.cir", text + "V1 in 0 1\nX1 in s0\n.tran 1u 10u\n");
        return shell(in("$U run deep.cir -o deep.csv"));
    };
    const Result deepest = nested(64);
    EXPECT_EQ(deepest.exitCode, 0) << deepest.output;
    const Result tooDeep = nested(65);
    EXPECT_EQ(tooDeep.exitCode, 1);
    EXPECT_TRUE(contains(tooDeep.output, "nested more than 64 deep")) << tooDeep.output;
    EXPECT_FALSE(contains(tooDeep.output, "contains itself")) << tooDeep.output;
}

TEST_F(ReliabilityCli, CommandLineMistakesAndRequestsAreAnswered) {
    netlist("rc.cir", SAMPLE_GOOD);
    const Result empty = shell(in("$U run rc.cir --plugin res="));
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_TRUE(contains(empty.output, "--plugin res=") && contains(empty.output, "empty")) << empty.output;
    for (const auto& [given, meant] : {std::pair{"rez", "res"}, std::pair{"vcswtich", "vcswitch"}}) {
        const Result misspelt = shell(in("$U run rc.cir --plugin " + std::string(given) + "=" SAMPLE_GOOD));
        EXPECT_EQ(misspelt.exitCode, 1);
        EXPECT_TRUE(contains(misspelt.output, "did you mean " + std::string(meant) + "?")) << misspelt.output;
        EXPECT_FALSE(contains(misspelt.output, "time,")) << misspelt.output;
    }

    for (const char* version : {"--version", "-V"}) {
        const Result r = shell(std::string("$U ") + version);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.output.rfind("udmhost ", 0), 0u) << r.output;
    }
    for (const char* help : {"run --help", "help run"}) {
        const Result r = shell(std::string("$U ") + help);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(contains(r.output, "usage: udmhost run NETLIST")) << r.output;
    }
}

TEST_F(ReliabilityCli, APluginPrintingOnStandardOutputLeavesTheCsvIntact) {
    netlist("prints.cir", SAMPLE_PRINTS);
    const Result r = shell(in("( $U run prints.cir 2>err.txt )"));
    ASSERT_EQ(r.exitCode, 0) << r.output << slurp(dir_ / "err.txt");
    std::istringstream lines(r.output);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("time,", 0), 0u) << line;
    size_t rows = 0;
    while (std::getline(lines, line)) {
        ++rows;
        EXPECT_FALSE(line.empty() || !(std::isdigit(static_cast<unsigned char>(line[0])) || line[0] == '-')) << line;
    }
    EXPECT_GT(rows, 50u);
    EXPECT_TRUE(contains(slurp(dir_ / "err.txt"), "plug-in chatter"));
}

TEST_F(ReliabilityCli, ForkingPluginsNeitherDuplicateTheReportNorKeepProcesses) {
    // Both processes return from the fork: one report, each check once.
    const Result both = shell("$U check " SAMPLE_FORKS_BOTH);
    const Result good = shell("$U check " SAMPLE_GOOD);
    std::map<std::string, int> lines;
    std::istringstream report(both.output);
    for (std::string line; std::getline(report, line);)
        if (!line.empty()) ++lines[line];
    for (const auto& [line, count] : lines) EXPECT_EQ(count, 1) << "repeated: " << line;
    EXPECT_EQ(std::count(both.output.begin(), both.output.end(), '\n'),
              std::count(good.output.begin(), good.output.end(), '\n')) << both.output;

    // A child left sleeping is ended with the check, which does not wait for it.
    const fs::path pidFile = dir_ / "sleeper.pid";
    const auto start = std::chrono::steady_clock::now();
    shell("SAMPLE_PID_FILE='" + pidFile.string() + "' $U check " SAMPLE_FORKS_SLEEPER);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    std::ifstream in(pidFile);
    int sleeper = 0;
    ASSERT_TRUE(in >> sleeper) << "the plug-in did not fork";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::ifstream stat("/proc/" + std::to_string(sleeper) + "/stat");
    std::string pid, name, state;
    if (stat >> pid >> name >> state) {
        EXPECT_EQ(state, "Z") << "the plug-in's child still runs";
    }
}

namespace {

// udmhost run in `dir` with its address space limited to `bytes`, started
// directly (no shell), so that the limit is udmhost's own.
[[maybe_unused]] Result runWithAddressLimit(const fs::path& dir, rlim_t bytes, const std::string& netlist) {
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        const struct rlimit limit = {bytes, bytes};
        if (chdir(dir.c_str()) != 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(97);
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        execl(UDMHOST_PATH, UDMHOST_PATH, "run", netlist.c_str(), "-o", "out.csv", nullptr);
        _exit(98);
    }
    close(out[1]);
    Result result;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) result.output.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace

TEST_F(ReliabilityCli, MemoryShortageALoadingPlugInAndTooFastASourceAreNamed) {
    // (Not under a sanitizer: its shadow memory does not fit under an address space limit.)
#if !defined(__SANITIZE_ADDRESS__)
    // The smallest limit (in steps of 4 MB) under which a plain run succeeds;
    // 8 MB more cannot hold a PWL repeated into two million values. No limit
    // tried, however small, leaves a temporary behind.
    write("small.cir", "small\nV1 in 0 1\nR1 in 0 1k\n.tran 10u 1m\n");
    write("pwl.cir", "pwl\nV1 in 0 PWL(0 0 1n 1 2n 0) r=0\nR1 in 0 1k\n.tran 1n 1m\n");
    rlim_t enough = 0;
    for (rlim_t mb = 8; mb <= 512 && enough == 0; mb += 4)
        if (runWithAddressLimit(dir_, mb << 20, "small.cir").exitCode == 0) enough = mb << 20;
    ASSERT_NE(enough, 0u) << "no limit up to 512 MB lets a small run succeed";
    const Result starved = runWithAddressLimit(dir_, enough + (rlim_t{8} << 20), "pwl.cir");
    EXPECT_EQ(starved.exitCode, 1) << starved.output;
    EXPECT_TRUE(contains(starved.output, "pwl.cir: out of memory while reading the netlist")) << starved.output;
    EXPECT_FALSE(contains(starved.output, "bad_alloc")) << starved.output;
    EXPECT_EQ(leftOver({"small.cir", "pwl.cir", "out.csv"}), Names{});
#endif
    // --verbose names each plug-in before loading it, also one that fails to load.
    write("broken.so", "not a library");
    netlist("rc.cir", SAMPLE_GOOD);
    netlist("broken.cir", (dir_ / "broken.so").string());
    const Result loads = shell(in("$U run rc.cir -o rc.csv --verbose"));
    EXPECT_EQ(loads.exitCode, 0) << loads.output;
    EXPECT_TRUE(contains(loads.output, "udmhost: loading plug-in " SAMPLE_GOOD)) << loads.output;
    const Result fails = shell(in("$U run broken.cir -o broken.csv --verbose"));
    EXPECT_EQ(fails.exitCode, 1) << fails.output;
    const size_t said = fails.output.find("loading plug-in " + (dir_ / "broken.so").string());
    ASSERT_NE(said, std::string::npos) << fails.output;
    EXPECT_NE(fails.output.find("broken.so", said + 20), std::string::npos) << "no load failure after the line: " << fails.output;

    // Sources faster than the time steps: a located warning saying what to set; the run goes on.
    EXPECT_FALSE(contains(loads.output, "warning")) << loads.output;
    write("fast.cir", "fast\nV1 a 0 SIN(0 1 1Meg)\nV2 b 0 PULSE(0 1 0 1f 1f 1f 1e-30)\nR1 a b 1k\nR2 b 0 1k\n.tran 1u 1m\n");
    const Result fast = shell(in("$U run fast.cir -o fast.csv"));
    EXPECT_EQ(fast.exitCode, 0) << fast.output;
    EXPECT_TRUE(contains(fast.output, "fast.cir:2:8: warning: V1: SIN reaches 1e+06 Hz") &&
                contains(fast.output, "set TMAX (the fourth value of .tran) to 1e-07 s or less"))
        << fast.output;
    EXPECT_TRUE(contains(fast.output, "fast.cir:3:8: warning: V2: PULSE repeats every 1e-30 s") &&
                contains(fast.output, "set PER to"))
        << fast.output;
    const Result followed = shell(in("sed 's|.tran 1u 1m|.tran 1u 1m 0 100n|; /V2/d; s|R1 a b|R1 a 0|' fast.cir > slow.cir && $U run slow.cir -o slow.csv"));
    EXPECT_EQ(followed.exitCode, 0) << followed.output;
    EXPECT_FALSE(contains(followed.output, "warning")) << followed.output;
}
