// The folder browser's start, status line and result.
#include "panel/folder_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FolderRulesTest, PathsInAndOut) {
    struct Case {
        const char* path;
        const char* preselect;
        const char* returned;  // also what a cancelled browser leaves
    };
    const Case cases[] = {
        {"C:\\tftp\\", "C:\\tftp", "C:\\tftp\\"},
        {"D:\\boot", "D:\\boot", "D:\\boot\\"},
        {"C:\\", "C:\\", "C:\\"},
        {"C:", "C:", "C:\\"},
        {"\\\\", "\\\\", "\\\\"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(folder_to_preselect(c.path), c.preselect);
        EXPECT_EQ(folder_with_separator(folder_to_preselect(c.path)), c.returned);
    }
}

TEST(FolderRulesTest, LongPathsShowTheirEnd) {
    std::string path48 = "C:\\" + std::string(45, 'a');
    EXPECT_EQ(folder_status_text(path48), path48);
    std::string path60 = "C:\\" + std::string(45, 'b') + "\\" + std::string(11, 'c');
    ASSERT_EQ(path60.size(), 60u);
    EXPECT_EQ(folder_status_text(path60), "..." + path60.substr(15));
    EXPECT_EQ(folder_status_text(path60).size(), 48u);
}

}  // namespace
