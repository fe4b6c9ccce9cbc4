// A folder of its own for each command-line test: netlists are written
// there, udmhost runs in it, and what it leaves there is listed. Kept when
// the test fails, for a look at what was left.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class CliFolderTest : public ::testing::Test {
protected:
    explicit CliFolderTest(std::string prefix) : prefix_(std::move(prefix)) {}
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               (prefix_ + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        if (!HasFailure()) std::filesystem::remove_all(dir_);
    }
    std::filesystem::path write(const std::string& name, const std::string& text) {
        const std::filesystem::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // An RC circuit through the given plug-in; `extra` lines go before .tran.
    std::filesystem::path netlist(const std::string& name, const std::string& plugin, const std::string& extra = "",
                                  const std::string& tran = ".tran 10u 1m", const std::string& title = "rc") {
        return write(name, title + "\n.plugin res " + plugin + "\nV1 in 0 SIN(0 1 1k)\nYr in out res R=1k\n" +
                               "C1 out 0 1u\n" + extra + tran + "\n");
    }
    // Every file in the folder other than those named.
    std::vector<std::string> leftOver(const std::vector<std::string>& expected) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) names.push_back(name);
        }
        return names;
    }
    // `command` run in the folder.
    std::string in(const std::string& command) const { return "cd '" + dir_.string() + "' && " + command; }
    std::filesystem::path dir_;

private:
    std::string prefix_;
};
