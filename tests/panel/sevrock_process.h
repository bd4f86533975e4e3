// A real Sevrock.exe for the panel's tests under Wine, started from the test
// program in the same prefix: its own store file, root and log directory in
// a temporary folder, a free loopback port and a control pipe name of its
// own, which this process takes too, so that the panel under test talks to
// this server and no other.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <windows.h>

#include <gtest/gtest.h>

#include "panel/main_window.h"
#include "tests/panel/panel_harness.h"

class SevrockProcess {
  public:
    SevrockProcess();
    ~SevrockProcess();
    SevrockProcess(const SevrockProcess&) = delete;
    SevrockProcess& operator=(const SevrockProcess&) = delete;

    // A value of the product key in the store the server starts with (the
    // port, root, log directory and a Timeout of 1 are there already).
    void set_value(const std::string& name, const std::string& text) { values_[name] = text; }

    // Starts "Sevrock.exe -debug" and waits until it answers the control
    // pipe; false when it did not within the time.
    bool start();
    // Ends the server at once, as a stopped service would vanish.
    void kill();

    uint16_t port() const { return port_; }
    // The root directory as the server holds it (with its backslash).
    const std::string& root() const { return root_; }
    // Writes a file of `size` bytes into the root.
    void add_file(const std::string& name, std::size_t size) const;
    // The log directory (with its backslash), and a file written into it.
    const std::string& log_directory() const { return log_; }
    void write_log_file(const std::string& name, const std::string& content) const;
    // "-debug" writes the log to the console instead of a file: from the
    // next start, the console goes to the file `name` of the log directory.
    void log_console_to(const std::string& name);

  private:
    void write_store() const;
    HANDLE open_console_log() const;

    std::string folder_, root_, log_, store_, pipe_, consoleLog_;
    std::map<std::string, std::string> values_;
    uint16_t port_ = 0;
    PROCESS_INFORMATION process_{};
};

// The program's own path for another program of the build tree.
std::string build_tree_program(const char* name);

// A test of the panel against a real Sevrock.exe, run by an administrator
// without per-user values.
class LiveServerTest : public testing::Test {
  protected:
    void SetUp() override {
        clear_user_values();
        override_administrator_for_testing(1);
    }
    void TearDown() override { override_administrator_for_testing(-1); }

    void start() { ASSERT_TRUE(server_.start()) << "Sevrock.exe did not answer its control pipe"; }

    SevrockProcess server_;
};
