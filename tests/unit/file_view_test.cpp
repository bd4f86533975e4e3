// Shared file views: one mapping for all running downloads of a file, closed
// by whichever of them ends last.
#include "engine/file_view.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/client_list.h"
#include "tests/support/temp_dir.h"

namespace {

#if defined(_WIN32)
constexpr bool kNamesIgnoreCase = true;
#else
constexpr bool kNamesIgnoreCase = false;
#endif

class FileViewTest : public testing::Test {
  protected:
    void SetUp() override { opened_ = count_open_file_views(); }
    void TearDown() override { reset_client_list_for_testing(); }

    // A read request for `name` being accepted: not in the list yet.
    TransferSession* request(const std::string& name) {
        auto* s = static_cast<TransferSession*>(std::calloc(1, sizeof(TransferSession)));
        std::snprintf(s->fileName, sizeof s->fileName, "%s", engine_path(name).c_str());
        s->dataSocket = kNoSocket;
        return s;
    }
    // The request started its worker and joined the list.
    static void start(TransferSession* s) {
        s->worker = 1;
        append_transfer(s);
    }
    static void end(TransferSession* s) {
        release_file(s);
        mark_finished(s, 0);
    }
    std::string engine_path(const std::string& name) {
        std::string path = (dir_.path() / name).string();
        for (char& c : path)
            if (c == '/') c = '\\';
        return path;
    }
    int views() const { return count_open_file_views() - opened_; }

    TempDir dir_;
    int opened_ = 0;
};

TEST_F(FileViewTest, MapsTheWholeFile) {
    dir_.write("boot.img", "0123456789");
    TransferSession* a = request("boot.img");
    ASSERT_TRUE(attach_file_view(a, 1u << 20));
    EXPECT_EQ(a->transferSize, 10u);
    EXPECT_EQ(std::memcmp(a->viewBase, "0123456789", 10), 0);
    EXPECT_EQ(views(), 1);
    release_file(a);
    EXPECT_EQ(views(), 0);
    EXPECT_EQ(a->useFileView, 0u);
    std::free(a);
}

TEST_F(FileViewTest, FallsBackToAStreamForEmptyMissingAndOversizedFiles) {
    dir_.write("empty.img", "");
    dir_.write("big.img", std::string(100, 'x'));
    for (const char* name : {"empty.img", "missing.img", "big.img"}) {
        SCOPED_TRACE(name);
        TransferSession* s = request(name);
        EXPECT_FALSE(attach_file_view(s, 99));
        EXPECT_EQ(s->useFileView, 0u);
        EXPECT_EQ(s->viewBase, nullptr);
        std::free(s);
    }
    EXPECT_EQ(views(), 0);
}

// Two running downloads of one file read one view; it stays open until the
// second of them ends, whichever that is.
TEST_F(FileViewTest, TwoDownloadsShareOneViewClosedAfterBothInEitherOrder) {
    dir_.write("boot.img", "abc");
    for (bool firstEndsFirst : {true, false}) {
        SCOPED_TRACE(firstEndsFirst ? "first ends first" : "second ends first");
        TransferSession* a = request("boot.img");
        ASSERT_TRUE(attach_file_view(a, 1u << 20));
        start(a);
        TransferSession* b = request("boot.img");
        ASSERT_TRUE(attach_file_view(b, 1u << 20));
        EXPECT_EQ(b->viewBase, a->viewBase);
        start(b);
        EXPECT_EQ(views(), 1);
        EXPECT_TRUE(file_has_view(engine_path("boot.img").c_str()));
        end(firstEndsFirst ? a : b);
        EXPECT_EQ(views(), 1);
        end(firstEndsFirst ? b : a);
        EXPECT_EQ(views(), 0);
        EXPECT_FALSE(file_has_view(engine_path("boot.img").c_str()));
    }
}

// Both sharers release before either is marked ended: the second release
// must not count the first as a user any more.
TEST_F(FileViewTest, SharersReleasingTogetherStillCloseTheView) {
    dir_.write("boot.img", "abc");
    TransferSession* a = request("boot.img");
    ASSERT_TRUE(attach_file_view(a, 1u << 20));
    start(a);
    TransferSession* b = request("boot.img");
    ASSERT_TRUE(attach_file_view(b, 1u << 20));
    start(b);
    EXPECT_EQ(release_file_view(a), b);
    EXPECT_EQ(release_file_view(b), nullptr);
    EXPECT_EQ(views(), 0);
}

// The transfer that opened the view ends first; a later request shares the
// view of one that is still running, and the view closes with the last.
TEST_F(FileViewTest, ViewOutlivesItsOpenerAndIsSharedOnFromASharer) {
    dir_.write("boot.img", "abc");
    TransferSession* opener = request("boot.img");
    ASSERT_TRUE(attach_file_view(opener, 1u << 20));
    start(opener);
    TransferSession* b = request("boot.img");
    ASSERT_TRUE(attach_file_view(b, 1u << 20));
    start(b);
    end(opener);
    TransferSession* c = request("boot.img");
    ASSERT_TRUE(attach_file_view(c, 1u << 20));
    EXPECT_EQ(c->viewBase, b->viewBase);
    start(c);
    EXPECT_EQ(views(), 1);
    end(b);
    EXPECT_EQ(views(), 1);
    end(c);
    EXPECT_EQ(views(), 0);
}

// A download that ends while a new sharer is not yet in the list leaves the
// view to it.
TEST_F(FileViewTest, PendingSharerKeepsTheViewOfADonorThatEnds) {
    dir_.write("boot.img", "abc");
    TransferSession* donor = request("boot.img");
    ASSERT_TRUE(attach_file_view(donor, 1u << 20));
    start(donor);
    TransferSession* pending = request("boot.img");
    ASSERT_TRUE(attach_file_view(pending, 1u << 20));
    EXPECT_EQ(release_file_view(donor), pending);
    mark_finished(donor, 0);
    EXPECT_EQ(views(), 1);
    start(pending);
    end(pending);
    EXPECT_EQ(views(), 0);
}

// A request refused after it took a share gives it back without closing it.
TEST_F(FileViewTest, RefusedPendingSharerReleasesItsShareOnly) {
    dir_.write("boot.img", "abc");
    TransferSession* donor = request("boot.img");
    ASSERT_TRUE(attach_file_view(donor, 1u << 20));
    start(donor);
    TransferSession* refused = request("boot.img");
    ASSERT_TRUE(attach_file_view(refused, 1u << 20));
    EXPECT_EQ(release_file_view(refused), donor);
    std::free(refused);
    EXPECT_EQ(views(), 1);
    end(donor);
    EXPECT_EQ(views(), 0);
}

TEST_F(FileViewTest, NamesDifferingInCaseShareOnlyWhereTheFileSystemIgnoresCase) {
    dir_.write("boot.img", "abc");
    dir_.write("BOOT.IMG", "abc");  // the same file on Windows
    TransferSession* a = request("boot.img");
    ASSERT_TRUE(attach_file_view(a, 1u << 20));
    start(a);
    TransferSession* b = request("BOOT.IMG");
    ASSERT_TRUE(attach_file_view(b, 1u << 20));
    EXPECT_EQ(b->viewBase == a->viewBase, kNamesIgnoreCase);
    start(b);
    end(a);
    end(b);
    EXPECT_EQ(views(), 0);
}

}  // namespace
