// udmhost under hostile or failing conditions: outputs that cannot be
// written, a plotter that misbehaves, Ctrl-C, names crafted to run
// commands, plug-ins that return NaN or register nonsense.
#include <gtest/gtest.h>

#include "cli_folder.h"
#include "command_output.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Result = CommandResult;

// `command` runs under /bin/sh; udmhost is $U in it.
Result shell(const std::string& command) { return runCommand("U='" UDMHOST_PATH "'; " + command); }

class HardeningCli : public CliFolderTest {
protected:
    HardeningCli() : CliFolderTest("udmhost_hardening_") {}
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(HardeningCli, OutputsAreCompleteOrAbsentAndFailuresSayWhy) {
    const fs::path rc = netlist("rc.cir", SAMPLE_GOOD);
    const Names kept = {"rc.cir", "bin"};
    fs::create_directories(dir_ / "bin");

    const Result full = shell(in("($U run rc.cir > /dev/full)"));
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_TRUE(contains(full.output, "cannot write standard output: No space left on device")) << full.output;
    const Result fullInfo = shell("($U info " + std::string(SAMPLE_GOOD) + " > /dev/full)");
    EXPECT_EQ(fullInfo.exitCode, 1);
    EXPECT_TRUE(contains(fullInfo.output, "cannot write standard output: No space left on device")) << fullInfo.output;

    // A file size limit stands in for a full disk: writes fail part-way.
    const Result limited = shell(in("ulimit -f 8; trap '' XFSZ; $U run rc.cir -o out.csv"));
    EXPECT_EQ(limited.exitCode, 1);
    EXPECT_TRUE(contains(limited.output, "cannot write out.csv: File too large")) << limited.output;
    EXPECT_EQ(leftOver(kept), Names{});

    // A pipe is written directly, not replaced; a link keeps pointing at the file it names.
    ASSERT_EQ(shell(in("mkfifo pipe")).exitCode, 0);
    const Result device = shell(in("{ timeout 60 $U run rc.cir -o pipe & timeout 60 cat pipe; wait; }"));
    EXPECT_TRUE(contains(device.output, "time,V(in),V(out)")) << device.output;
    EXPECT_EQ(fs::status(dir_ / "pipe").type(), fs::file_type::fifo);
    fs::remove(dir_ / "pipe");
    write("real.csv", "old");
    fs::create_symlink("real.csv", dir_ / "link.csv");
    EXPECT_EQ(shell(in("$U run rc.cir -o link.csv")).exitCode, 0);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.csv"));
    EXPECT_GT(fs::file_size(dir_ / "real.csv"), 1000u);
    fs::remove(dir_ / "link.csv");
    fs::remove(dir_ / "real.csv");

    // A plotter that stops half-way through the image and still reports success.
    write("bin/gnuplot", "#!/bin/sh\nprintf '\\211PNG\\r\\n\\032\\n\\0\\0\\0\\rIHDR'\nexit 0\n");
    fs::permissions(dir_ / "bin/gnuplot", fs::perms::owner_all);
    const Result truncated = shell(in("PATH=\"$PWD/bin:$PATH\" $U run rc.cir -o out.csv --plot out.png"));
    EXPECT_EQ(truncated.exitCode, 1);
    EXPECT_TRUE(contains(truncated.output, "out.png: gnuplot left an incomplete image")) << truncated.output;
    EXPECT_EQ(leftOver({"rc.cir", "bin", "out.csv"}), Names{});

    write("bin/gnuplot", "#!/bin/sh\necho 'line 3: undefined variable' >&2\nexit 3\n");
    const Result failing = shell(in("PATH=\"$PWD/bin:$PATH\" $U run rc.cir -o out.csv --plot out.png"));
    EXPECT_EQ(failing.exitCode, 1);
    EXPECT_TRUE(contains(failing.output, "gnuplot failed (exit status 3)")) << failing.output;
    EXPECT_FALSE(contains(failing.output, "installed")) << failing.output;

    const Result missing = shell(in("PATH=/nonexistent $U run rc.cir -o out.csv --plot out.png"));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(contains(missing.output, "gnuplot not found (is gnuplot installed?)")) << missing.output;
    EXPECT_EQ(leftOver({"rc.cir", "bin", "out.csv"}), Names{});
    fs::remove(dir_ / "out.csv");

    // Ctrl-C while the outputs are open: they are removed, the exit code is 130.
    const fs::path slow = netlist("slow.cir", SAMPLE_GOOD, "", ".tran 1u 100m 0 10n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(dir_.c_str()) != 0) _exit(99);
        std::freopen("/dev/null", "w", stderr);
        execl(UDMHOST_PATH, UDMHOST_PATH, "run", "slow.cir", "-o", "slow.csv", "--raw", "slow.raw", nullptr);
        _exit(98);
    }
    bool started = false;
    for (int i = 0; i < 3000 && !started; ++i) {  // until both temporaries exist
        started = leftOver({"rc.cir", "bin", "slow.cir"}).size() == 2;
        if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, started ? SIGINT : SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(started) << "the run never opened its outputs";
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(leftOver({"rc.cir", "bin", "slow.cir"}), Names{});
}

TEST_F(HardeningCli, NamesFromTheInputNeverRunAsCommands) {
    // Backquotes, both quotes and a backslash in the title, a node name (so
    // a column name and label) and the plot path; gnuplot would run each
    // backquoted text as a shell command.
    const std::string mark = (dir_ / "ran").string();
    // (Quotes in a node name would open a quoted text; the title has them.)
    const std::string node = "o`touch$IFS" + mark + "1`\\n";
    write("evil.cir", "`touch " + mark + "2` '\"\\\n.plugin res " + std::string(SAMPLE_GOOD) +
                          "\nV1 in 0 SIN(0 1 1k)\nYr in " + node + " res R=1k\nC1 " + node + " 0 1u\n.tran 10u 1m\n");
    const std::string png = "p`touch ran3`'\"\\\nq.png";
    std::ofstream(dir_ / "arg") << png;
    const Result result = shell(in("$U run evil.cir -o out.csv --plot \"$(cat arg)\""));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(leftOver({"evil.cir", "arg", "out.csv", png}), Names{});
    EXPECT_GT(fs::file_size(dir_ / png), 1000u);
}

TEST_F(HardeningCli, NonFiniteValuesStopTheRunNamingTheirSource) {
    struct Case {
        const char* plugin;
        std::string extra, expected;
    };
    const Case cases[] = {
        {SAMPLE_GOOD, ".param zero=0\nYs in out res R={sqrt(-1)}\n", "Ys: parameter R: expression 'sqrt(-1)' evaluates to NaN"},
        {SAMPLE_GOOD, "Ys in out res R={1/(time-time)}\n", "Ys: parameter R: expression '1/(time-time)' evaluates to infinity"},
        {SAMPLE_SHORT_INFINITE, "Ys in out res R={0*time}\n", "Ys: the plug-in returned infinity as matrix entry 1"},
        {SAMPLE_NAN_OUTPUT, ".print tran Yr:I\n", "Yr: output I is NaN at time 0"},
        {SAMPLE_GOOD, "C2 out 0 1e308\n", "the equations of V(out) hold values beyond the range of numbers"},
        {SAMPLE_GOOD, "I1 0 floating 1m\n", "singular matrix: no independent equation for V(floating)"},
    };
    for (const Case& c : cases) {
        netlist("nf.cir", c.plugin, c.extra);
        const Result result = shell(in("$U run nf.cir -o nf.csv"));
        EXPECT_EQ(result.exitCode, 1) << c.extra;
        EXPECT_TRUE(contains(result.output, c.expected)) << result.output;
        EXPECT_FALSE(fs::exists(dir_ / "nf.csv"));
    }
}

TEST_F(HardeningCli, EveryCommandChecksTheRegistrationAndFindsABareName) {
    const std::string broken = SAMPLE_NO_INSTANCE;
    const std::string problem = "announces an instance block of 0 bytes";
    EXPECT_TRUE(contains(shell("$U info " + broken).output, problem));
    EXPECT_EQ(shell("$U info " + broken).exitCode, 1);
    EXPECT_NE(shell("$U check " + broken).exitCode, 0);
    const Result run = shell(in("$U run " + netlist("zero.cir", broken).string()));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.output, problem)) << run.output;

    // A name without a slash is the file in the working folder.
    fs::copy_file(SAMPLE_GOOD, dir_ / "libhere.so");
    const Result info = shell(in("$U info libhere.so"));
    EXPECT_EQ(info.exitCode, 0) << info.output;
    const Result check = shell(in("$U check libhere.so"));
    EXPECT_EQ(check.exitCode, 0) << check.output;
}
