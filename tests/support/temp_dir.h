// A directory of its own for one test, removed with everything in it.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#if defined(_WIN32)
#include <process.h>
#define PRAVLEN_TEST_PID _getpid()
#else
#include <unistd.h>
#define PRAVLEN_TEST_PID getpid()
#endif

class TempDir {
  public:
    TempDir() {
        static std::atomic<int> counter{0};
        std::ostringstream name;
        name << "pravlen-test-" << PRAVLEN_TEST_PID << "-" << counter++;
        path_ = std::filesystem::temp_directory_path() / name.str();
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // The directory as a text ending with the platform's separator, the way
    // the server keeps directories.
    std::string dir_text() const {
        std::string text = path_.string();
        text += static_cast<char>(std::filesystem::path::preferred_separator);
        return text;
    }

    std::filesystem::path write(const std::string& name, const std::string& bytes) const {
        std::filesystem::path file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }

    std::string read(const std::string& name) const {
        std::ifstream in(path_ / name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    std::filesystem::path path_;
};
