// Choosing the translation file and looking texts up in it, with the
// fallbacks to the built-in texts.
#include "panel/translation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/panel/panel_harness.h"

namespace {

class TranslationTest : public testing::Test {
  protected:
    void SetUp() override {
        init_program_directory();
        clear_user_values();
    }
    void TearDown() override {
        clear_user_values();
        load_language();
    }

    static void choose(const std::string& name) {
        set_user_value("Language", name.c_str());
        load_language();
    }
};

TEST_F(TranslationTest, AFileInForceGivesTitleAndDialogFailureText) {
    TranslationFile file("translation-test.ini",
                         "[Common]\r\nLANGUAGE=Test\r\nTitle=Test Title\r\n"
                         "[Strings]\r\nFAILED=No dialog\\tat all\r\n");
    choose(file.name());
    ASSERT_TRUE(translation_in_force());
    EXPECT_EQ(std::string(translation_path()),
              test_program_directory() + "Languages\\translation-test.ini");
    EXPECT_STREQ(product_title(), "Test Title");
    EXPECT_STREQ(dialog_failure_text(), "No dialog\tat all");
}

TEST_F(TranslationTest, MissingTitleAndFailedTextFallBack) {
    TranslationFile file("translation-test.ini", "[Common]\r\nLANGUAGE=Test\r\n");
    choose(file.name());
    ASSERT_TRUE(translation_in_force());
    EXPECT_STREQ(product_title(), "Velquin TFTP Server");
    EXPECT_STREQ(dialog_failure_text(), "Failed to create dialog");
}

TEST_F(TranslationTest, UnusableChoicesMeanTheBuiltInTexts) {
    TranslationFile noLanguage("translation-test.ini", "[Common]\r\nTitle=Not Used\r\n");
    const char* choices[] = {"translation-test.ini", "no-such-file.ini",
                             "..\\Languages\\deutsch.ini", "C:deutsch.ini"};
    for (const char* choice : choices) {
        SCOPED_TRACE(choice);
        choose("deutsch.ini");
        ASSERT_TRUE(translation_in_force());
        choose(choice);
        EXPECT_FALSE(translation_in_force());
        EXPECT_STREQ(product_title(), "Velquin TFTP Server");
        EXPECT_STREQ(dialog_failure_text(), "Failed to create dialog");
    }
}

TEST_F(TranslationTest, TranslateStringFallsBackToTheStringTable) {
    TranslationFile file("translation-test.ini",
                         "[Common]\r\nLANGUAGE=Test\r\n"
                         "[Strings]\r\nREADY=Bereit\\nzwei\r\nEMPTY=\r\nSLASH=\\\r\n");
    char text[64];
    // No file in force: the entry, or nothing (and the buffer untouched).
    EXPECT_EQ(translate_string(IDS_READY, "READY", text, sizeof text), 17);
    EXPECT_STREQ(text, "Listening on Port");
    std::strcpy(text, "untouched");
    EXPECT_EQ(translate_string(0, "READY", text, sizeof text), 0);
    EXPECT_STREQ(text, "untouched");

    choose(file.name());
    EXPECT_EQ(translate_string(IDS_READY, "READY", text, sizeof text), 11);
    EXPECT_STREQ(text, "Bereit\nzwei");
    EXPECT_EQ(translate_string(IDS_PAUSED, "EMPTY", text, sizeof text), 13);
    EXPECT_STREQ(text, "Server paused");
    EXPECT_EQ(translate_string(IDS_PAUSED, "SLASH", text, sizeof text), 13);  // decodes to ""
    EXPECT_EQ(translate_string(0, "MISSING", text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    // A short buffer cuts the text.
    char shortText[5];
    EXPECT_EQ(translate_string(IDS_READY, "READY", shortText, sizeof shortText), 4);
    EXPECT_STREQ(shortText, "Bere");
}

TEST_F(TranslationTest, TranslateControlSetsControlsAndCaptions) {
    TranslationFile file("translation-test.ini",
                         "[Common]\r\nLANGUAGE=Test\r\n"
                         "[Strings]\r\nCAPTION=Fenster\r\n"
                         "[Control]\r\nLABEL=Zeile 1\\nZeile 2\r\nEMPTY=\r\n");
    HWND window = CreateWindowExA(0, "STATIC", "Window", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HWND label = CreateWindowExA(0, "STATIC", "Label", WS_CHILD, 0, 0, 50, 20, window,
                                 reinterpret_cast<HMENU>(100), GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(label, nullptr);
    translate_control(window, 100, "LABEL");  // no file in force yet
    EXPECT_EQ(window_text(label), "Label");

    choose(file.name());
    translate_control(window, 100, "LABEL");
    EXPECT_EQ(window_text(label), "Zeile 1\nZeile 2");
    translate_control(window, 100, "EMPTY");
    translate_control(window, 100, "MISSING");
    EXPECT_EQ(window_text(label), "Zeile 1\nZeile 2");
    translate_control(window, 0, "CAPTION");
    EXPECT_EQ(window_text(window), "Fenster");
    translate_control(window, 0, "LABEL");  // [Control] keys are not captions
    EXPECT_EQ(window_text(window), "Fenster");
    DestroyWindow(window);
}

TEST_F(TranslationTest, MenuTextsAreTakenAsTheyStand) {
    TranslationFile file("translation-test.ini",
                         "[Common]\r\nLANGUAGE=Test\r\n[Menu]\r\nFILE=\\Datei\\n\r\nHELP=\r\n");
    char text[64] = "untouched";
    EXPECT_FALSE(translate_menu_text("FILE", text, sizeof text));
    choose(file.name());
    ASSERT_TRUE(translate_menu_text("FILE", text, sizeof text));
    EXPECT_STREQ(text, "\\Datei\\n");
    EXPECT_FALSE(translate_menu_text("HELP", text, sizeof text));
}

// An empty choice follows the user's language. ctest runs this once as it
// is and once with LC_ALL=de_DE.UTF-8, from which Wine takes a German user.
TEST_F(TranslationTest, EmptyChoiceFollowsTheUserLanguage) {
    bool german = (GetUserDefaultLangID() & 0x3FF) == 7;
    if (GetEnvironmentVariableA("PRAVLEN_TEST_GERMAN_USER", nullptr, 0) > 0) {
        ASSERT_TRUE(german) << "LC_ALL=de_DE.UTF-8 did not make a German user";
    }
    load_language();
    if (german) {
        EXPECT_TRUE(translation_in_force());
        EXPECT_STREQ(product_title(), "Velquin TFTP-Server");
        EXPECT_STREQ(dialog_failure_text(), "Dialog konnte nicht erstellt werden");
    } else {
        EXPECT_FALSE(translation_in_force());
        EXPECT_STREQ(product_title(), "Velquin TFTP Server");
    }
    // A stored choice wins over the user's language.
    choose("English");
    EXPECT_FALSE(translation_in_force());
}

// The keys of every section of a translation file, each with a value.
std::set<std::string> filled_keys(const std::string& path) {
    std::set<std::string> keys;
    for (const char* section : {"Common", "Strings", "Control", "Menu"}) {
        std::vector<char> names(32768);
        DWORD n = GetPrivateProfileStringA(section, nullptr, "", names.data(),
                                           static_cast<DWORD>(names.size()), path.c_str());
        for (const char* key = names.data(); key < names.data() + n && *key;
             key += std::strlen(key) + 1) {
            char value[8];
            if (GetPrivateProfileStringA(section, key, "", value, sizeof value, path.c_str()) > 0)
                keys.insert(std::string(section) + "/" + key);
        }
    }
    return keys;
}

// Every shipped translation gives a text for every key the German one has.
TEST_F(TranslationTest, ShippedTranslationsHaveEveryKey) {
    std::string languages = test_program_directory() + "Languages\\";
    std::set<std::string> german = filled_keys(languages + "deutsch.ini");
    ASSERT_GT(german.size(), 100u);
    for (const char* file : {"russian.ini"}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(filled_keys(languages + file), german);
    }
}

}  // namespace
