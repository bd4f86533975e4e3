#include "platform/reg_file.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace platform {
namespace {

const std::string kMain(kStoreProductKey);
const std::string kAccess = kMain + "\\Access";
const std::string kPxe = kMain + "\\PXE";

RegFile parse_or_fail(std::string_view text) {
    std::optional<RegFile> file = RegFile::parse(text);
    EXPECT_TRUE(file.has_value()) << text;
    return file ? *file : RegFile();
}

std::string crlf(std::string_view lf_text) {
    std::string out;
    for (char c : lf_text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// A file as regedit exports it, with everything the store does not use.
const std::string kRichFile = crlf(
    "REGEDIT4\n"
    "\n"
    "; Exported by hand for the lab\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen]\n"
    "@=\"default text\"\n"
    "\"Port\"=\"70\"\n"
    "\"Flags\"=dword:00000007\n"
    "\"Expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00,41,00,42,00,43,00,\\\n"
    "  44,00,00,00\n"
    "; keep the timeout short\n"
    "\"Timeout\"=\"2\"\n"
    "\n"
    "[-HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen\\Obsolete]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Other Vendor\\Tool]\n"
    "\"Port\"=\"99\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen\\Access]\n"
    "\"%root%\\\\0\"=\"rw\"\n"
    "\"boot\\\\0\"=\"r,10.0.0.1-10.0.0.99\"\n"
    "\n");

TEST(SectionKey, ProductSectionIsTheProductKeyWithoutRegardToCase) {
    struct Case {
        const char* section;
        std::string key;
    };
    const Case cases[] = {
        {"Pravlen", kMain},
        {"PRAVLEN", kMain},
        {"pravlen", kMain},
        {"Access", kAccess},
        {"PXE", kPxe},
        {"PravlenX", kMain + "\\PravlenX"},
        {"Pravle", kMain + "\\Pravle"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section);
        EXPECT_EQ(section_key(kStoreProductKey, c.section), c.key);
    }
}

TEST(RegFileParse, UnchangedFileSerialisesByteForByte) {
    EXPECT_EQ(parse_or_fail(kRichFile).serialise(), kRichFile);
}

TEST(RegFileParse, LfLineEndsAreReadAndWrittenAsCrLf) {
    const std::string lf = "REGEDIT4\n\n[" + kMain + "]\n\"Port\"=\"70\"\n\n";
    RegFile file = parse_or_fail(lf);
    EXPECT_EQ(file.get(kMain, "Port"), "70");
    EXPECT_EQ(file.serialise(), crlf(lf));
}

TEST(RegFileParse, AcceptsOtherHeadersAndAlwaysWritesRegedit4) {
    const std::string body = "\r\n[" + kMain + "]\r\n\"Port\"=\"70\"\r\n";
    const std::string headers[] = {
        "REGEDIT4",
        "\xEF\xBB\xBFREGEDIT4",
        "Windows Registry Editor Version 5.00",
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00",
        "REGEDIT4  ",
    };
    for (const std::string& header : headers) {
        SCOPED_TRACE(header);
        RegFile file = parse_or_fail(header + body);
        EXPECT_EQ(file.get(kMain, "Port"), "70");
        EXPECT_EQ(file.serialise(), "REGEDIT4" + body);
    }
}

TEST(RegFileParse, RejectsTextThatIsNoRegistryFile) {
    const std::string utf16 = std::string("\xFF\xFE", 2) + std::string(
                                                               "R\0E\0G\0E\0D\0I\0T\0"
                                                               "4\0\r\0\n\0",
                                                               20);
    const std::string cases[] = {
        "",
        "\r\n",
        "\r\nREGEDIT4\r\n",
        "hello world",
        "REGEDIT5\r\n",
        "[" + kMain + "]\r\n\"Port\"=\"70\"\r\n",
        "REGEDIT4\r\n\r\n[" + kMain + "]\r\n\"Port\"=\"7" + std::string(1, '\0') + "\"\r\n",
        utf16,
        std::string("\x7F"
                    "ELF\x02\x01\x01\0\0\0",
                    10),
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_FALSE(RegFile::parse(text).has_value());
    }
}

TEST(RegFileValues, EscapesBackslashesAndQuotesInNamesAndData) {
    struct Case {
        std::string name;
        std::string text;
        std::string line;  // as regedit writes it
    };
    const Case cases[] = {
        {"%root%\\0", "rw", R"("%root%\\0"="rw")"},
        {"boot\\x.img", "239.1.2.3:1758", R"("boot\\x.img"="239.1.2.3:1758")"},
        {"Say \"hi\"", "a \"quoted\" text", R"("Say \"hi\""="a \"quoted\" text")"},
        {"RootDirectory", "C:\\tftp\\", R"("RootDirectory"="C:\\tftp\\")"},
        {"Tricky", "\\\"", R"("Tricky"="\\\"")"},
        {"Empty", "", R"("Empty"="")"},
        {"", "default", R"(@="default")"},
        {"Umlaut",
         "Gr\xC3\xBC\xC3\x9F"
         "e\tTab",
         "\"Umlaut\"=\"Gr\xC3\xBC\xC3\x9F"
         "e\tTab\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        RegFile file;
        ASSERT_TRUE(file.set(kMain, c.name, c.text));
        std::string text = file.serialise();
        EXPECT_NE(text.find("\r\n" + c.line + "\r\n"), std::string::npos) << text;
        EXPECT_EQ(parse_or_fail(text).get(kMain, c.name), c.text);
    }
}

TEST(RegFileValues, ReadsUnknownEscapesLiterally) {
    RegFile file = parse_or_fail("REGEDIT4\r\n[" + kMain + "]\r\n\"Dir\"=\"C:\\tftp\\new\"\r\n");
    EXPECT_EQ(file.get(kMain, "Dir"), "C:\\tftp\\new");
}

TEST(RegFileValues, KeysAndNamesMatchWithoutRegardToCaseAndKeepTheStoredSpelling) {
    RegFile file = parse_or_fail(
        "REGEDIT4\r\n\r\n[hkey_local_machine\\SOFTWARE\\velquin\\PRAVLEN]\r\n"
        "\"PxeBlocksize\"=\"1024\"\r\n\r\n");
    EXPECT_EQ(file.get(kMain, "pxeblocksize"), "1024");
    EXPECT_EQ(file.get(kMain, "PXEBLOCKSIZE"), "1024");
    ASSERT_TRUE(file.set(kMain, "PXEblocksize", "512"));
    EXPECT_EQ(file.serialise(),
              "REGEDIT4\r\n\r\n[hkey_local_machine\\SOFTWARE\\velquin\\PRAVLEN]\r\n"
              "\"PxeBlocksize\"=\"512\"\r\n\r\n");
    EXPECT_EQ(file.get(kMain, "PxeBlocksize"), "512");
}

TEST(RegFileValues, NonStringValuesReadAsMissingAndAreReplacedInPlace) {
    RegFile file = parse_or_fail(kRichFile);
    EXPECT_FALSE(file.get(kMain, "Flags").has_value());
    EXPECT_FALSE(file.get(kMain, "Expand").has_value());
    EXPECT_EQ(file.get(kMain, ""), "default text");

    ASSERT_TRUE(file.set(kMain, "expand", "plain"));
    std::string expected = kRichFile;
    std::size_t from = expected.find("\"Expand\"=hex(2)");
    std::size_t to = expected.find("; keep the timeout");
    expected.replace(from, to - from, "\"Expand\"=\"plain\"\r\n");
    EXPECT_EQ(file.serialise(), expected);
}

TEST(RegFileValues, LastEntryWinsAndDeletionMarksHideValues) {
    RegFile file = parse_or_fail("REGEDIT4\r\n[" + kMain + "]\r\n\"A\"=\"1\"\r\n\"B\"=\"1\"\r\n[" +
                                 kMain + "]\r\n\"a\"=\"2\"\r\n\"B\"=-\r\n");
    EXPECT_EQ(file.get(kMain, "A"), "2");
    EXPECT_FALSE(file.get(kMain, "B").has_value());
    EXPECT_EQ(file.erase(kMain, "B"), RegFile::EraseResult::kNoValue);

    EXPECT_EQ(file.erase(kMain, "A"), RegFile::EraseResult::kErased);
    EXPECT_FALSE(file.get(kMain, "A").has_value()) << "an earlier duplicate came back";
    EXPECT_EQ(file.serialise(),
              "REGEDIT4\r\n[" + kMain + "]\r\n\"B\"=\"1\"\r\n[" + kMain + "]\r\n\"B\"=-\r\n");
}

TEST(RegFileValues, EraseReportsMissingKeyOrValueAndKeepsTheEmptyKey) {
    RegFile file = parse_or_fail(kRichFile);
    EXPECT_EQ(file.erase(kPxe, "x"), RegFile::EraseResult::kNoKey);
    EXPECT_EQ(file.erase(kAccess, "missing"), RegFile::EraseResult::kNoValue);
    EXPECT_EQ(file.erase(kAccess, "%ROOT%\\0"), RegFile::EraseResult::kErased);
    EXPECT_EQ(file.erase(kAccess, "boot\\0"), RegFile::EraseResult::kErased);
    EXPECT_TRUE(file.has_key(kAccess));
    EXPECT_EQ(file.erase(kAccess, "boot\\0"), RegFile::EraseResult::kNoValue);
    std::string text = file.serialise();
    EXPECT_TRUE(text.ends_with("[" + kAccess + "]\r\n\r\n")) << text;
    EXPECT_TRUE(parse_or_fail(text).has_key(kAccess));
}

TEST(RegFileValues, UnknownContentSurvivesChangesByteForByte) {
    RegFile file = parse_or_fail(kRichFile);
    ASSERT_TRUE(file.set(kMain, "port", "71"));        // replaced in place
    ASSERT_TRUE(file.set(kMain, "Retransmit", "5"));   // new, after the last value
    ASSERT_TRUE(file.set(kAccess, "boot\\1", "rwo"));  // new in a later key
    EXPECT_EQ(file.erase(kMain, "Timeout"), RegFile::EraseResult::kErased);
    ASSERT_TRUE(file.set(kPxe, "boot\\x.img", "239.1.1.1:1758"));  // a new key at the end
    EXPECT_EQ(
        file.serialise(),
        crlf("REGEDIT4\n"
             "\n"
             "; Exported by hand for the lab\n"
             "[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen]\n"
             "@=\"default text\"\n"
             "\"Port\"=\"71\"\n"
             "\"Flags\"=dword:00000007\n"
             "\"Expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00,41,00,42,00,43,00,\\\n"
             "  44,00,00,00\n"
             "; keep the timeout short\n"
             "\"Retransmit\"=\"5\"\n"
             "\n"
             "[-HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen\\Obsolete]\n"
             "\n"
             "[HKEY_LOCAL_MACHINE\\Software\\Other Vendor\\Tool]\n"
             "\"Port\"=\"99\"\n"
             "\n"
             "[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen\\Access]\n"
             "\"%root%\\\\0\"=\"rw\"\n"
             "\"boot\\\\0\"=\"r,10.0.0.1-10.0.0.99\"\n"
             "\"boot\\\\1\"=\"rwo\"\n"
             "\n"
             "[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen\\PXE]\n"
             "\"boot\\\\x.img\"=\"239.1.1.1:1758\"\n"
             "\n"));
}

TEST(RegFileValues, OtherKeysAndDeletionSectionsAreNeverMatched) {
    RegFile file = parse_or_fail(kRichFile);
    EXPECT_FALSE(file.has_key(kMain + "\\Obsolete"));
    EXPECT_FALSE(file.has_key("-" + kMain + "\\Obsolete"));
    EXPECT_EQ(file.get(kMain, "Port"), "70");
    EXPECT_EQ(file.get("HKEY_LOCAL_MACHINE\\Software\\Other Vendor\\Tool", "Port"), "99");
}

TEST(RegFileValues, NewFileLooksAsRegeditWritesIt) {
    RegFile file;
    ASSERT_TRUE(file.set(kMain, "Port", "70"));
    ASSERT_TRUE(file.set(kAccess, "%root%\\0", "rw"));
    ASSERT_TRUE(file.set(kMain, "Timeout", "3"));
    EXPECT_EQ(file.serialise(), crlf("REGEDIT4\n"
                                     "\n"
                                     "[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen]\n"
                                     "\"Port\"=\"70\"\n"
                                     "\"Timeout\"=\"3\"\n"
                                     "\n"
                                     "[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen\\Access]\n"
                                     "\"%root%\\\\0\"=\"rw\"\n"
                                     "\n"));
}

TEST(RegFileValues, NewKeyIsSetOffByABlankLine) {
    RegFile bare = parse_or_fail("REGEDIT4");
    ASSERT_TRUE(bare.set(kMain, "Port", "70"));
    EXPECT_EQ(bare.serialise(), "REGEDIT4\r\n\r\n[" + kMain + "]\r\n\"Port\"=\"70\"\r\n\r\n");

    RegFile file = parse_or_fail("REGEDIT4\r\n[" + kMain + "]\r\n\"Port\"=\"70\"");
    ASSERT_TRUE(file.set(kAccess, "%root%\\0", "r"));
    EXPECT_EQ(file.serialise(), "REGEDIT4\r\n[" + kMain + "]\r\n\"Port\"=\"70\"\r\n\r\n[" +
                                    kAccess + "]\r\n\"%root%\\\\0\"=\"r\"\r\n\r\n");
}

TEST(RegFileContinuation, LinesAfterABackslashBelongToTheValue) {
    const std::string text =
        "REGEDIT4\r\n[" + kMain +
        "]\r\n\"Bin\"=hex:01,02,\\\r\n  03,\\\r\n\"Port\"=\"70\"\r\n\"Timeout\"=\"2\"\r\n";
    RegFile file = parse_or_fail(text);
    EXPECT_FALSE(file.get(kMain, "Port").has_value()) << "a continuation line was read as a value";
    EXPECT_EQ(file.get(kMain, "Timeout"), "2");

    RegFile erased = file;
    EXPECT_EQ(erased.erase(kMain, "Bin"), RegFile::EraseResult::kErased);
    EXPECT_EQ(erased.serialise(), "REGEDIT4\r\n[" + kMain + "]\r\n\"Timeout\"=\"2\"\r\n");

    ASSERT_TRUE(file.set(kMain, "Bin", "text"));
    EXPECT_EQ(file.serialise(),
              "REGEDIT4\r\n[" + kMain + "]\r\n\"Bin\"=\"text\"\r\n\"Timeout\"=\"2\"\r\n");
}

TEST(RegFileContinuation, ASectionHeaderEndsAnUnfinishedValue) {
    const std::string text = "REGEDIT4\r\n[" + kMain + "]\r\n\"Bin\"=hex:01,\\\r\n[" + kAccess +
                             "]\r\n\"%root%\\\\0\"=\"rw\"\r\n";
    RegFile file = parse_or_fail(text);
    EXPECT_EQ(file.get(kAccess, "%root%\\0"), "rw");
    EXPECT_FALSE(file.get(kMain, "%root%\\0").has_value());
    EXPECT_EQ(file.serialise(), text);

    // A value added after the unfinished one must not become its continuation.
    ASSERT_TRUE(file.set(kMain, "Port", "70"));
    RegFile reread = parse_or_fail(file.serialise());
    EXPECT_EQ(reread.get(kMain, "Port"), "70");
    EXPECT_EQ(reread.get(kAccess, "%root%\\0"), "rw");
}

TEST(RegFileValues, RefusesLineBreaksAndNulAndChangesNothing) {
    struct Case {
        std::string key;
        std::string name;
        std::string text;
    };
    const std::string nul(1, '\0');
    const Case cases[] = {
        {kMain, "Port", "70\r\n[HKEY_LOCAL_MACHINE\\Software\\Evil]\r\n\"x\"=\"y\""},
        {kMain, "Port", "70\n"},
        {kMain, "Port", "\r"},
        {kMain, "Port", "7" + nul + "0"},
        {kMain, "Po\nrt", "70"},
        {kMain, "Po\rrt", "70"},
        {kMain, "Po" + nul, "70"},
        {kMain + "\\Acc\r\n[x]", "Port", "70"},
        {kMain + "\\Acc" + nul, "Port", "70"},
        {"", "Port", "70"},
        {"-" + kMain, "Port", "70"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.key + "|" + c.name + "|" + c.text));
        RegFile file = parse_or_fail(kRichFile);
        EXPECT_FALSE(file.set(c.key, c.name, c.text));
        EXPECT_EQ(file.serialise(), kRichFile);
    }
}

TEST(RegFileValues, QuotesInNamesCannotForgeOtherValues) {
    RegFile file;
    ASSERT_TRUE(file.set(kMain, "A\"=\"1\"\t\"B", "2\"=dword:00000001"));
    RegFile reread = parse_or_fail(file.serialise());
    EXPECT_FALSE(reread.get(kMain, "A").has_value());
    EXPECT_FALSE(reread.get(kMain, "B").has_value());
    EXPECT_EQ(reread.get(kMain, "A\"=\"1\"\t\"B"), "2\"=dword:00000001");
}

TEST(RegFileParse, MalformedLinesAreKeptAndIgnored) {
    const std::string text = crlf(
        "REGEDIT4\n"
        "\"Orphan\"=\"before any key\"\n"
        "[\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen\n"
        "\"Lost\"=\"in a key without a closing bracket\"\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen]\n"
        "\"Unterminated\"=\"abc\n"
        "\"Trailing\"=\"abc\" junk\n"
        "\"NoEquals\" \"abc\"\n"
        "\"Spaced\" = \"ok\"\n"
        "=\"no name\"\n"
        "\\\n"
        "\"\n");
    RegFile file = parse_or_fail(text);
    EXPECT_EQ(file.serialise(), text);
    for (const char* name : {"Orphan", "Lost", "Unterminated", "Trailing", "NoEquals"}) {
        EXPECT_FALSE(file.get(kMain, name).has_value()) << name;
    }
    EXPECT_EQ(file.get(kMain, "Spaced"), "ok");
    ASSERT_TRUE(file.set(kMain, "Unterminated", "fixed"));
    EXPECT_EQ(parse_or_fail(file.serialise()).get(kMain, "Unterminated"), "fixed");
}

// Random damage to a real file: parsing never crashes, and whatever parses
// takes a change that reads back after a round trip through text.
TEST(RegFileParse, DamagedFilesNeverCrashAndStayUsable) {
    const char alphabet[] = {'"', '\\', '[', ']', '\n', '\r', '=',
                             '@', '-',  ';', ' ', 'x',  '\0', ':'};
    uint32_t state = 12345;
    auto next = [&state](uint32_t bound) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % bound;
    };
    for (int round = 0; round < 3000; ++round) {
        std::string text = kRichFile;
        int edits = 1 + static_cast<int>(next(6));
        for (int e = 0; e < edits; ++e) {
            std::size_t at = next(static_cast<uint32_t>(text.size()));
            char c = alphabet[next(sizeof alphabet)];
            switch (next(3)) {
                case 0:
                    text[at] = c;
                    break;
                case 1:
                    text.insert(at, 1, c);
                    break;
                default:
                    text.erase(at, 1);
                    break;
            }
        }
        std::optional<RegFile> file = RegFile::parse(text);
        if (!file) continue;
        SCOPED_TRACE(testing::PrintToString(text));
        (void)file->get(kMain, "Port");
        const std::string& key = round % 2 ? kMain : kAccess;
        ASSERT_TRUE(file->set(key, "Probe", "value \"" + std::to_string(round) + "\"\\"));
        (void)file->erase(kMain, "Timeout");
        std::string written = file->serialise();
        std::optional<RegFile> reread = RegFile::parse(written);
        ASSERT_TRUE(reread.has_value());
        EXPECT_EQ(reread->get(key, "Probe"), "value \"" + std::to_string(round) + "\"\\");
        EXPECT_FALSE(reread->get(kMain, "Timeout").has_value());
        EXPECT_EQ(reread->serialise(), written);
    }
}

}  // namespace
}  // namespace platform
