#include "platform/store.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>
#endif

namespace platform {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
unsigned long process_id() { return GetCurrentProcessId(); }
void set_environment(const char* name, const char* value) { _putenv_s(name, value ? value : ""); }
#else
unsigned long process_id() { return static_cast<unsigned long>(getpid()); }
void set_environment(const char* name, const char* value) {
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}
#endif

// A fresh directory for one test, removed with its content afterwards.
class TempDir {
  public:
    TempDir() {
        static int counter = 0;
        path_ = fs::temp_directory_path() /
                ("pravlen-store-" + std::to_string(process_id()) + "-" + std::to_string(++counter));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string file(const char* name) const { return (path_ / name).string(); }

    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(path_))
            found.insert(entry.path().filename().string());
        return found;
    }

  private:
    fs::path path_;
};

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string read_value(const char* section, const char* name) {
    std::string text;
    return store_read(section, name, &text) ? text : std::string("<missing>");
}

// Writes `count` distinct values; returns how many writes failed.
int write_many(const std::string& prefix, int count) {
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        std::string name = prefix + std::to_string(i);
        if (!store_write("Pravlen", name.c_str(), std::to_string(i).c_str())) ++failures;
    }
    return failures;
}

// Counts the values of `prefix` 0 to count-1 that read back wrong.
int count_missing(const std::string& prefix, int count) {
    int missing = 0;
    for (int i = 0; i < count; ++i) {
        std::string name = prefix + std::to_string(i);
        if (read_value("Pravlen", name.c_str()) != std::to_string(i)) ++missing;
    }
    return missing;
}

// ---------------------------------------------------------------------------
// Behaviour every backend shares.

enum class Backend { kFile, kRegistry };

void PrintTo(Backend backend, std::ostream* out) {
    *out << (backend == Backend::kFile ? "file" : "registry");
}

#ifdef _WIN32
const Backend kBackends[] = {Backend::kFile, Backend::kRegistry};
#else
const Backend kBackends[] = {Backend::kFile};
#endif

class StoreTest : public testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        if (GetParam() == Backend::kFile) {
            dir_ = std::make_unique<TempDir>();
            store_use_file(dir_->file("Pravlen.reg"));
        } else {
            key_ = "Software\\Velquin\\PravlenTest-" + std::to_string(process_id());
            delete_key();
            ASSERT_TRUE(store_use_registry(key_));
        }
    }
    void TearDown() override {
        if (!key_.empty()) delete_key();
    }

  private:
#ifdef _WIN32
    void delete_key() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, key_.c_str()); }
#else
    void delete_key() {}
#endif

    std::unique_ptr<TempDir> dir_;
    std::string key_;
};

TEST_P(StoreTest, ValuesReadBackAsWritten) {
    EXPECT_FALSE(store_read("Pravlen", "Port", nullptr));
    std::string text = "untouched";
    EXPECT_FALSE(store_read("Pravlen", "Port", &text));
    EXPECT_EQ(text, "untouched");

    ASSERT_TRUE(store_write("Pravlen", "Port", "70"));
    EXPECT_EQ(read_value("Pravlen", "Port"), "70");
    ASSERT_TRUE(store_write("Pravlen", "Port", "71"));
    EXPECT_EQ(read_value("Pravlen", "Port"), "71");
    ASSERT_TRUE(store_write("Pravlen", "Port", "71"));  // the same again
    EXPECT_EQ(read_value("Pravlen", "Port"), "71");

    EXPECT_EQ(read_value("Pravlen", "Timeout"), "<missing>");
    EXPECT_EQ(read_value("Access", "Port"), "<missing>");
}

TEST_P(StoreTest, NamesAndSectionsMatchWithoutRegardToCase) {
    ASSERT_TRUE(store_write("Pravlen", "RootDirectory", "/srv/tftp"));
    ASSERT_TRUE(store_write("Access", "%root%\\0", "rw"));
    struct Case {
        const char* section;
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"PRAVLEN", "rootdirectory", "/srv/tftp"},
        {"pravlen", "ROOTDIRECTORY", "/srv/tftp"},
        {"access", "%ROOT%\\0", "rw"},
        {"ACCESS", "%Root%\\0", "rw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.name);
        EXPECT_EQ(read_value(c.section, c.name), c.text);
    }
    ASSERT_TRUE(store_write("PRAVLEN", "ROOTDIRECTORY", "/srv/other"));
    EXPECT_EQ(read_value("Pravlen", "RootDirectory"), "/srv/other");
}

// The PXE settings are read as "PxeBlocksize" and saved as "PXEblocksize".
TEST_P(StoreTest, SaveUnderOtherSpellingOverwritesTheStoredValue) {
    ASSERT_TRUE(store_write("Pravlen", "PxeBlocksize", "1024"));
    ASSERT_TRUE(store_write("Pravlen", "PXEblocksize", "512"));
    EXPECT_EQ(read_value("Pravlen", "PxeBlocksize"), "512");
    ASSERT_TRUE(store_delete("Pravlen", "PXEblocksize"));
    EXPECT_EQ(read_value("Pravlen", "PxeBlocksize"), "<missing>");
    EXPECT_FALSE(store_delete("Pravlen", "PxeBlocksize"));
}

TEST_P(StoreTest, SectionsKeepTheirOwnValues) {
    ASSERT_TRUE(store_write("Pravlen", "Port", "69"));
    ASSERT_TRUE(store_write("Access", "Port", "access"));
    ASSERT_TRUE(store_write("PXE", "Port", "pxe"));
    ASSERT_TRUE(store_write("PXE", "boot\\x.img", "239.1.2.3:1758"));
    EXPECT_EQ(read_value("Pravlen", "Port"), "69");
    EXPECT_EQ(read_value("Access", "Port"), "access");
    EXPECT_EQ(read_value("PXE", "Port"), "pxe");
    EXPECT_EQ(read_value("PXE", "boot\\x.img"), "239.1.2.3:1758");

    ASSERT_TRUE(store_delete("Access", "Port"));
    EXPECT_EQ(read_value("Pravlen", "Port"), "69");
    EXPECT_EQ(read_value("PXE", "Port"), "pxe");
}

TEST_P(StoreTest, DeleteFailsWhenTheSectionOrValueIsMissing) {
    EXPECT_FALSE(store_delete("Pravlen", "Stop"));
    EXPECT_FALSE(store_delete("Access", "%root%\\0"));
    ASSERT_TRUE(store_write("Pravlen", "Stop", "1"));
    ASSERT_TRUE(store_write("Access", "%root%\\0", "rw"));
    EXPECT_FALSE(store_delete("Pravlen", "Used"));
    EXPECT_FALSE(store_delete("PXE", "Stop"));

    EXPECT_TRUE(store_delete("Pravlen", "stop"));
    EXPECT_EQ(read_value("Pravlen", "Stop"), "<missing>");
    EXPECT_FALSE(store_delete("Pravlen", "Stop"));

    EXPECT_TRUE(store_delete("Access", "%root%\\0"));  // the last value of its section
    EXPECT_FALSE(store_delete("Access", "%root%\\0"));
    ASSERT_TRUE(store_write("Access", "%root%\\0", "r"));
    EXPECT_EQ(read_value("Access", "%root%\\0"), "r");
}

TEST_P(StoreTest, BackslashesQuotesAndOtherCharactersSurvive) {
    struct Case {
        const char* section;
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"Access", "%root%\\0", "rw,10.0.0.1-10.0.0.99"},
        {"Access", "boot\\12", "r"},
        {"PXE", "images\\pxe\\x.img", "239.1.2.3:1758"},
        {"Pravlen", "RootDirectory", "C:\\tftp\\root\\"},
        {"Pravlen", "Prefix", "\\\\server\\share"},
        {"Pravlen", "Quoted \"name\"", "say \"hi\" \\\""},
        {"Pravlen", "Trailing\\", "\\"},
        {"Pravlen", "Empty", ""},
        {"Pravlen", "Long", std::string(5000, 'x') + "\\\"end"},
        {"Pravlen", "Tab\tName", "a\tb;c=d[e]@f"},
    };
    for (const Case& c : cases)
        ASSERT_TRUE(store_write(c.section, c.name, c.text.c_str())) << c.name;
    for (const Case& c : cases) EXPECT_EQ(read_value(c.section, c.name), c.text) << c.name;
}

std::vector<std::string> listed(const char* section) {
    std::vector<StoreValue> values;
    std::vector<std::string> found;
    if (!store_list(section, &values)) found.push_back("<no section>");
    for (const StoreValue& value : values) found.push_back(value.name + "=" + value.text);
    return found;
}

// A section lists each of its values once, under the spelling it was stored
// with, and never the values of another section.
TEST_P(StoreTest, ListReportsTheValuesOfOneSection) {
    EXPECT_EQ(listed("Access"), std::vector<std::string>{"<no section>"});
    ASSERT_TRUE(store_write("Pravlen", "Port", "69"));
    ASSERT_TRUE(store_write("Access", "%root%\\0", "r"));
    ASSERT_TRUE(store_write("Access", "boot\\0", "rw,10.0.0.1-10.0.0.9"));
    ASSERT_TRUE(store_write("ACCESS", "%ROOT%\\0", "rwo"));
    ASSERT_TRUE(store_write("Access", "a\\b\\0", ""));
    std::vector<std::string> access = listed("Access");
    std::sort(access.begin(), access.end());
    EXPECT_EQ(access, (std::vector<std::string>{"%root%\\0=rwo",
                                                "a\\b\\0=", "boot\\0=rw,10.0.0.1-10.0.0.9"}));
    ASSERT_TRUE(store_delete("Access", "boot\\0"));
    ASSERT_TRUE(store_delete("Access", "%root%\\0"));
    ASSERT_TRUE(store_delete("Access", "a\\b\\0"));
    EXPECT_EQ(listed("Access"), std::vector<std::string>{});
    EXPECT_EQ(listed("PXE"), std::vector<std::string>{"<no section>"});
}

// Readers and writers on several threads: no update is lost, and a reader
// never sees the store without a value that was there all along.
TEST_P(StoreTest, ThreadsWritingAtOnceLoseNoUpdate) {
    constexpr int kWrites = 200;
    ASSERT_TRUE(store_write("Pravlen", "Steady", "1"));
    std::atomic<int> failures{0};
    std::atomic<int> bad_reads{0};
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            if (read_value("Pravlen", "Steady") != "1") ++bad_reads;
        }
    });
    std::thread a([&] { failures += write_many("A", kWrites); });
    std::thread b([&] { failures += write_many("B", kWrites); });
    a.join();
    b.join();
    done = true;
    reader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(bad_reads.load(), 0);
    EXPECT_EQ(count_missing("A", kWrites), 0);
    EXPECT_EQ(count_missing("B", kWrites), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends,
                         StoreTest,
                         testing::ValuesIn(kBackends),
                         [](const testing::TestParamInfo<Backend>& info) {
                             return info.param == Backend::kFile ? "File" : "Registry";
                         });

// ---------------------------------------------------------------------------
// The file backend.

const std::string kHeaderLine = "REGEDIT4\r\n";
const std::string kMainHeader = "[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen]\r\n";

class FileStoreTest : public testing::Test {
  protected:
    void SetUp() override { store_use_file(path_); }

    TempDir dir_;
    const std::string path_ = dir_.file("Pravlen.reg");
};

TEST_F(FileStoreTest, MissingFileIsAnEmptyStoreThatTheFirstWriteCreates) {
    EXPECT_EQ(read_value("Pravlen", "Port"), "<missing>");
    EXPECT_FALSE(store_delete("Pravlen", "Port"));
    EXPECT_FALSE(fs::exists(path_));

    ASSERT_TRUE(store_write("Pravlen", "Port", "70"));
    EXPECT_EQ(read_bytes(path_), kHeaderLine + "\r\n" + kMainHeader + "\"Port\"=\"70\"\r\n\r\n");
    EXPECT_EQ(store_location(), path_);
}

TEST_F(FileStoreTest, EmptyFileIsAnEmptyStore) {
    write_bytes(path_, "");
    EXPECT_EQ(read_value("Pravlen", "Port"), "<missing>");
    ASSERT_TRUE(store_write("Pravlen", "Port", "70"));
    EXPECT_EQ(read_value("Pravlen", "Port"), "70");
}

TEST_F(FileStoreTest, DamagedFileReadsEmptyAndIsNeverWritten) {
    const std::string value = kMainHeader + "\"Port\"=\"70\"\r\n";
    const std::string cases[] = {
        value,                                             // no header
        "REGEDIT 4\r\n" + value,                           // no header either
        kHeaderLine + value + std::string("\0\0\0\0", 4),  // NUL bytes
        std::string("\xFF\xFE"
                    "R\0E\0G\0E\0D\0I\0T\0"
                    "4\0",
                    18),  // UTF-16
    };
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        write_bytes(path_, bytes);
        std::set<std::string> before = dir_.names();
        EXPECT_EQ(read_value("Pravlen", "Port"), "<missing>");
        EXPECT_FALSE(store_write("Pravlen", "Port", "71"));
        EXPECT_FALSE(store_write("Access", "%root%\\0", "rw"));
        EXPECT_FALSE(store_delete("Pravlen", "Port"));
        EXPECT_EQ(read_bytes(path_), bytes);
        before.insert("Pravlen.reg.lock");
        EXPECT_EQ(dir_.names(), before);
    }
}

TEST_F(FileStoreTest, DirectoryInPlaceOfTheFileIsNeverReplaced) {
    fs::create_directory(path_);
    EXPECT_EQ(read_value("Pravlen", "Port"), "<missing>");
    EXPECT_FALSE(store_write("Pravlen", "Port", "70"));
    EXPECT_TRUE(fs::is_directory(path_));
}

TEST_F(FileStoreTest, WriteThatCannotBeMadeReturnsFalseAndLeavesNothingBehind) {
    write_bytes(dir_.file("plain-file"), "x");
    const std::string cases[] = {
        dir_.file("missing-directory") + "/Pravlen.reg",
        dir_.file("plain-file") + "/Pravlen.reg",
    };
    for (const std::string& path : cases) {
        SCOPED_TRACE(path);
        store_use_file(path);
        std::set<std::string> before = dir_.names();
        EXPECT_FALSE(store_write("Pravlen", "Port", "70"));
        EXPECT_EQ(read_value("Pravlen", "Port"), "<missing>");
        EXPECT_EQ(dir_.names(), before);
    }
}

TEST_F(FileStoreTest, LineBreaksAreRefusedAndChangeNothing) {
    ASSERT_TRUE(store_write("Pravlen", "Port", "70"));
    const std::string before = read_bytes(path_);
    EXPECT_FALSE(store_write("Pravlen", "Port", "71\r\n[HKEY_LOCAL_MACHINE\\Software\\Evil]"));
    EXPECT_FALSE(store_write("Pravlen", "Po\nrt", "71"));
    EXPECT_FALSE(store_write("Acc\ness", "Port", "71"));
    EXPECT_EQ(read_bytes(path_), before);
    EXPECT_EQ(read_value("Pravlen", "Port"), "70");
}

TEST_F(FileStoreTest, ChangesKeepWhatTheStoreDoesNotUse) {
    const std::string other = "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n\"Port\"=\"1\"\r\n";
    write_bytes(path_, kHeaderLine + "; lab server\r\n" + kMainHeader +
                           "\"Flags\"=dword:00000001\r\n\"Port\"=\"70\"\r\n\r\n" + other);
    ASSERT_TRUE(store_write("Pravlen", "port", "71"));
    EXPECT_EQ(read_bytes(path_), kHeaderLine + "; lab server\r\n" + kMainHeader +
                                     "\"Flags\"=dword:00000001\r\n\"Port\"=\"71\"\r\n\r\n" + other);
}

TEST_F(FileStoreTest, DeletingTheLastValueLeavesTheEmptySection) {
    ASSERT_TRUE(store_write("Access", "%root%\\0", "rw"));
    ASSERT_TRUE(store_delete("Access", "%root%\\0"));
    EXPECT_EQ(read_bytes(path_),
              kHeaderLine + "\r\n[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen\\Access]\r\n\r\n");
}

// A hand edit must be seen on the next read however it was made: in place or
// by replacing the file, with or without a new size or modification time.
TEST_F(FileStoreTest, HandEditBetweenTwoReadsIsSeen) {
    using namespace std::chrono_literals;
    const std::string original = kHeaderLine + kMainHeader + "\"Port\"=\"70\"\r\n";
    const std::string same_size = kHeaderLine + kMainHeader + "\"Port\"=\"71\"\r\n";
    const std::string longer = kHeaderLine + kMainHeader + "\"Port\"=\"7100\"\r\n";
    const auto settled = fs::file_time_type::clock::now() - 1h;
    const auto future = fs::file_time_type::clock::now() + 1h;

    auto in_place = [&](const std::string& bytes) {
        std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    };
    auto by_rename = [&](const std::string& bytes, fs::file_time_type time) {
        std::string temp = dir_.file("edit.tmp");
        write_bytes(temp, bytes);
        fs::last_write_time(temp, time);
        fs::rename(temp, path_);
    };

    struct Case {
        const char* how;
        fs::file_time_type written;  // modification time of the original
        std::string expected;
        std::function<void()> edit;
    };
    const Case cases[] = {
        {"in place, same size", settled, "71", [&] { in_place(same_size); }},
        {"in place, longer, old time", settled, "7100",
         [&] {
             write_bytes(path_, longer);
             fs::last_write_time(path_, settled);
         }},
        {"replaced, same size and time", settled, "71", [&] { by_rename(same_size, settled); }},
        {"in place, same size and time, recent file", future, "71",
         [&] {
             in_place(same_size);
             fs::last_write_time(path_, future);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        write_bytes(path_, original);
        fs::last_write_time(path_, c.written);
        ASSERT_EQ(read_value("Pravlen", "Port"), "70");
        ASSERT_EQ(read_value("Pravlen", "Port"), "70");
        c.edit();
        EXPECT_EQ(read_value("Pravlen", "Port"), c.expected);
    }
}

TEST(StoreInit, PravlenStoreNamesTheFile) {
    TempDir dir;
    const std::string path = dir.file("chosen.reg");
    const char* saved = std::getenv("PRAVLEN_STORE");
    std::string saved_value = saved ? saved : "";
    set_environment("PRAVLEN_STORE", path.c_str());
    store_init("/nonexistent/");
    set_environment("PRAVLEN_STORE", saved ? saved_value.c_str() : nullptr);
    EXPECT_EQ(store_location(), path);
    ASSERT_TRUE(store_write("Pravlen", "Path", "x"));
    EXPECT_TRUE(fs::exists(path));
}

TEST(StoreInit, EmptyPathNamesNoStore) {
    TempDir dir;
    fs::current_path(dir.path());
    store_use_file("");
    EXPECT_FALSE(store_write("Pravlen", "Port", "70"));
    EXPECT_EQ(read_value("Pravlen", "Port"), "<missing>");
    fs::current_path(fs::temp_directory_path());
    EXPECT_TRUE(dir.names().empty());
}

#ifdef _WIN32

TEST(StoreInit, RegistryKeyComesFromPravlenKey) {
    const char* saved_store = std::getenv("PRAVLEN_STORE");
    std::string saved_store_value = saved_store ? saved_store : "";
    set_environment("PRAVLEN_STORE", nullptr);
    set_environment("PRAVLEN_KEY", "Software\\Velquin\\PravlenInitTest");
    store_init("C:\\");
    EXPECT_EQ(store_location(), "HKEY_LOCAL_MACHINE\\Software\\Velquin\\PravlenInitTest");
    set_environment("PRAVLEN_KEY", nullptr);
    store_init("C:\\");
    EXPECT_EQ(store_location(), "HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen");
    if (saved_store) set_environment("PRAVLEN_STORE", saved_store_value.c_str());
    store_use_file("");
}

#else

TEST(StoreInit, DefaultFileIsInTheProgramDirectory) {
    const char* saved = std::getenv("PRAVLEN_STORE");
    std::string saved_value = saved ? saved : "";
    set_environment("PRAVLEN_STORE", nullptr);
    store_init("/opt/velquin/");
    EXPECT_EQ(store_location(), "/opt/velquin/Pravlen.reg");
    store_init("/opt/velquin");
    EXPECT_EQ(store_location(), "/opt/velquin/Pravlen.reg");
    if (saved) set_environment("PRAVLEN_STORE", saved_value.c_str());
    EXPECT_FALSE(store_use_registry("Software\\Velquin\\Pravlen"));
}

TEST_F(FileStoreTest, ReadOnlyDirectoryRefusesTheWrite) {
    ASSERT_TRUE(store_write("Pravlen", "Port", "70"));
    const std::string before = read_bytes(path_);
    std::set<std::string> names = dir_.names();
    fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec);
    if (int fd = ::open(dir_.file("probe").c_str(), O_CREAT | O_WRONLY, 0600); fd >= 0) {
        ::close(fd);
        ::unlink(dir_.file("probe").c_str());
        GTEST_SKIP() << "this user writes into read-only directories";
    }
    EXPECT_FALSE(store_write("Pravlen", "Port", "71"));
    EXPECT_EQ(read_bytes(path_), before);
    EXPECT_EQ(dir_.names(), names);
}

// A full disk, made with the file size limit, which binds root too.
TEST_F(FileStoreTest, FullDiskDuringTheWriteLeavesTheOldFile) {
    ASSERT_TRUE(store_write("Pravlen", "Port", "70"));
    const std::string before = read_bytes(path_);
    std::set<std::string> names = dir_.names();

    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = before.size() + 100;
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool written = store_write("Pravlen", "Big", std::string(4096, 'x').c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_FALSE(written);
    EXPECT_EQ(read_bytes(path_), before);
    EXPECT_EQ(dir_.names(), names);
    EXPECT_EQ(read_value("Pravlen", "Big"), "<missing>");
    EXPECT_TRUE(store_write("Pravlen", "Big", "fits now"));
}

TEST_F(FileStoreTest, RewriteKeepsTheFileModeAndSymbolicLink) {
    TempDir target_dir;
    const std::string target = target_dir.file("real.reg");
    ASSERT_TRUE(store_write("Pravlen", "Port", "70"));
    fs::rename(path_, target);
    fs::create_symlink(target, path_);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);

    ASSERT_TRUE(store_write("Pravlen", "Port", "71"));
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_NE(read_bytes(target).find("\"Port\"=\"71\""), std::string::npos);
    struct stat st;
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(target_dir.names(), (std::set<std::string>{"real.reg"}));
}

TEST_F(FileStoreTest, TwoProcessesWritingAtOnceLoseNoUpdate) {
    constexpr int kWrites = 200;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(start[1]);
        char go;
        bool started = ::read(start[0], &go, 1) == 1;
        _exit(started && write_many("Child", kWrites) == 0 ? 0 : 1);
    }
    ::close(start[0]);
    ASSERT_EQ(::write(start[1], "g", 1), 1);
    ::close(start[1]);
    int failures = write_many("Parent", kWrites);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(count_missing("Parent", kWrites), 0);
    EXPECT_EQ(count_missing("Child", kWrites), 0);
}

#endif  // _WIN32

}  // namespace
}  // namespace platform
