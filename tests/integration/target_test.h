// A test fixture run once against the native server and once against the
// Windows server under Wine (skipped when that build is missing), with a
// server process of its own and helpers for the files of its root.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "tests/integration/server_process.h"

class TargetTest : public testing::TestWithParam<Target> {
  protected:
    void SetUp() override {
        if (!target_available(GetParam()))
            GTEST_SKIP() << target_name(GetParam()) << " build missing";
    }
    void TearDown() override {
        if (HasFailure() && server_) std::cerr << "--- server output ---\n" << server_->output();
    }
    ServerProcess& server() {
        if (!server_) server_ = std::make_unique<ServerProcess>(GetParam());
        return *server_;
    }

    void put_file(const std::string& name, const std::string& bytes) {
        std::ofstream(server().root() / name, std::ios::binary) << bytes;
    }
    std::string file(const std::string& name) {
        std::ifstream in(server().root() / name, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    // The file's name as the server's log lines show it.
    std::string logged_name(const std::string& name) {
        return server().program_path(server().root(), true) + name;
    }

    std::unique_ptr<ServerProcess> server_;
};

inline std::string target_test_name(const testing::TestParamInfo<Target>& info) {
    return target_name(info.param);
}

#define INSTANTIATE_FOR_BOTH_TARGETS(suite)                                                   \
    INSTANTIATE_TEST_SUITE_P(Targets, suite, testing::Values(Target::kNative, Target::kWine), \
                             target_test_name)
