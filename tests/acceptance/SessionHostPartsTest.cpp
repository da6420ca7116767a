// The host program's own parts: the progress of large transfers, the file tag, the command line,
// the peer's text on the terminal, the save folder.

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "HostProgram.hpp"
#include "Options.hpp"
#include "Payloads.hpp"
#include "SaveFolder.hpp"
#include "Text.hpp"
#include "TransferProgress.hpp"

namespace quorvane::session {
namespace {

using namespace std::chrono_literals;

TEST(TransferProgressTest, PipedOutputShowsEachTenthOnceAndTheEndAtTheTotal) {
    TransferProgress progress(false);
    const auto start = TransferProgress::Clock::now();
    int shown = 0;
    for (std::uint16_t chunk = 1; chunk < 100; ++chunk) {
        auto text = progress.report(7, 16, chunk, 100, start + chunk * 10ms);
        if (!text) continue;
        ++shown;
        EXPECT_FALSE(text->finished);
    }
    EXPECT_EQ(shown, 10);  // the first report, then one at each tenth from 10 % to 90 %
    auto last = progress.report(7, 16, 100, 100, start + 1s);
    ASSERT_TRUE(last);
    EXPECT_TRUE(last->finished);
    EXPECT_EQ(last->text, "received #7: 1.5 MiB in 1.0 s, 1.5 MiB/s");
    // Forgotten once finished: the same id starts a new transfer.
    EXPECT_TRUE(progress.report(7, 16, 1, 2, start + 2s));
}

TEST(TransferProgressTest, LiveOutputIsRedrawnAtMostEveryTenthOfASecond) {
    TransferProgress progress(true);
    const auto start = TransferProgress::Clock::now();
    EXPECT_TRUE(progress.report(1, 0, 1, 50, start));
    EXPECT_FALSE(progress.report(1, 0, 2, 50, start + 50ms));
    EXPECT_TRUE(progress.report(1, 0, 3, 50, start + 100ms));
}

TEST(TransferProgressTest, TextShowsShareSizeRateAndTimeLeft) {
    EXPECT_EQ(formatProgress(3, 1024, 4096, 15360.0 * 1024),
              "receiving #3 [#####---------------]  25%  15.0/60.0 MiB  15.0 MiB/s  3 s left");
    EXPECT_EQ(formatProgress(3, 1, 4096, std::nullopt),
              "receiving #3 [--------------------]   0%  0.0/60.0 MiB  -- MiB/s  -- s left");
}

TEST(FileTagTest, CarriesNameAndChecksumOfTheBytes) {
    const auto data = fileData("report; sha256=x.bin", {'a', 'b', 'c'});
    const auto tag = parseFileTag(data.tag());
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->name, "report; sha256=x.bin");
    EXPECT_EQ(tag->sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_FALSE(parseFileTag("application/octet-stream"));
    EXPECT_FALSE(parseFileTag(textTag()));
}

/// A folder of its own under the temporary folder, removed with the object.
struct TemporaryFolder {
    const std::string path = std::filesystem::temp_directory_path() / ("host-parts-" + std::to_string(getpid()));
    TemporaryFolder() { std::filesystem::create_directories(path); }
    ~TemporaryFolder() { std::filesystem::remove_all(path); }
};

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(OptionsTest, RefusesCommandLinesItCannotUseSayingWhy) {
    TemporaryFolder folder;
    const std::string file = folder.path + "/file";
    std::ofstream(file) << "x";
    const std::string range = "--timeout takes a whole number of seconds from 1 to 86400, not ";
    const std::vector<std::pair<std::vector<const char*>, std::string>> refused = {
        {{"quorvane_session"}, "device or agent?"},
        {{"quorvane_session", "helper", "--url", "u", "--api-key", "k"}, "the first argument is device or agent"},
        {{"quorvane_session", "agent", "--url", "u", "--api-key", "k"}, "the agent needs --pin"},
        {{"quorvane_session", "device", "--url", "u", "--api-key", "k", "--pin", "1"}, "--pin is for the agent"},
        {{"quorvane_session", "device", "--api-key", "k"}, "--url and --api-key are needed"},
        {{"quorvane_session", "device", "--url", "u", "--api-key"}, "missing value after --api-key"},
        {{"quorvane_session", "device", "--url", "u", "--api-key", "k", "--timeout", "5s"}, range + "\"5s\""},
        {{"quorvane_session", "device", "--url", "u", "--api-key", "k", "--timeout", ""}, range + "\"\""},
        {{"quorvane_session", "device", "--url", "u", "--api-key", "k", "--timeout", "0"}, range + "\"0\""},
        {{"quorvane_session", "device", "--url", "u", "--api-key", "k", "--timeout", "86401"}, range + "\"86401\""},
        {{"quorvane_session", "device", "--url", "u", "--api-key", "k", "--timeout", "99999999999"},
         range + "\"99999999999\""},
        {{"quorvane_session", "device", "--url", "u", "--api-key", "k", "--save-folder", "/nonexistent/here"},
         "--save-folder /nonexistent/here cannot keep files: No such file or directory"},
        {{"quorvane_session", "device", "--url", "u", "--api-key", "k", "--save-folder", file.c_str()},
         "--save-folder " + file + " cannot keep files: not a folder"},
    };
    for (auto [words, reason] : refused) {
        bool help = false;
        try {
            parseOptions(static_cast<int>(words.size()), const_cast<char**>(words.data()), help);
            ADD_FAILURE() << "accepted: " << reason;
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(error.what(), reason);
        }
    }
    std::vector<const char*> agent = {"quorvane_session", "agent",     "--url", "u",
                                      "--api-key",        "k",         "--pin", "123456",
                                      "--timeout",        "86400",     "--save-folder", folder.path.c_str()};
    bool help = false;
    const auto options = parseOptions(static_cast<int>(agent.size()), const_cast<char**>(agent.data()), help);
    EXPECT_EQ(options.role, Options::Role::agent);
    EXPECT_EQ(options.pin, "123456");
    EXPECT_EQ(options.timeout, 86400);
    EXPECT_EQ(options.saveFolder, folder.path);
}

TEST(OptionsTest, ARefusedCommandLineIsEchoedEscaped) {
    std::vector<const char*> words = {"quorvane_session", "device", "--url", "u", "--api-key", "k", "--\x1b[2J"};
    std::ostringstream errors;
    auto* const standardError = std::cerr.rdbuf(errors.rdbuf());
    const int status = runHostProgram(static_cast<int>(words.size()), const_cast<char**>(words.data()), {});
    std::cerr.rdbuf(standardError);
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(errors.str().starts_with("quorvane_session: unknown option --\\x1b[2J\n")) << errors.str();
}

TEST(OptionsTest, HelpNamesTheExitStatusesAndTheTimeOutsRange) {
    for (const char* text : {"Exit status: 0 ", "1 when", "2 for", "128+N after signal N", "from 1 to 86400"}) {
        EXPECT_NE(std::string(usage).find(text), std::string::npos) << text;
    }
}

TEST(PrintableTest, EscapesEveryControlCharacterAndEveryByteOutsideUtf8) {
    using namespace std::string_literals;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"\x1b[2J\x1b[1;31mred", "\\x1b[2J\\x1b[1;31mred"},
        {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
        {"cut\0here"s, "cut\\0here"},
        {"over\rwrite\nline\ttab\b", "over\\rwrite\\nline\\ttab\\x08"},
        {"del\x7f", "del\\x7f"},
        {"c1 \xc2\x9b" "2J \xc2\x85", "c1 \\xc2\\x9b2J \\xc2\\x85"},
        {"\xc2\xa0 after the controls", "\xc2\xa0 after the controls"},
        {"lone \x9b" "2J", "lone \\x9b2J"},
        {"cut \xe2\x82", "cut \\xe2\\x82"},
        {"overlong \xc0\xaf surrogate \xed\xa0\x80", "overlong \\xc0\\xaf surrogate \\xed\\xa0\\x80"},
        {"back\\slash \\x1b", "back\\\\slash \\\\x1b"},
        {"\xe2\x80\xaa\xe2\x80\xac \xe2\x80\xae" "fdp.exe", "\\xe2\\x80\\xaa\\xe2\\x80\\xac \\xe2\\x80\\xaefdp.exe"},
        {"\xe2\x81\xa6\xe2\x81\xa9 \xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",
         "\\xe2\\x81\\xa6\\xe2\\x81\\xa9 \xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},
        {"\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c \xe2\x80\x8d\xd8\x9b",
         "\\xe2\\x80\\x8e\\xe2\\x80\\x8f\\xd8\\x9c \xe2\x80\x8d\xd8\x9b"},
        {"", ""},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(printable(text), shown) << shown;
}

TEST(PrintableTest, LongTextIsShortenedWhereACharacterStarts) {
    EXPECT_EQ(shortened("short", 5), "short");
    EXPECT_EQ(shortened("abcdef", 5), "abcde... (6 bytes)");
    EXPECT_EQ(shortened("abcd\xc3\xa9z", 5), "abcd... (7 bytes)");
    EXPECT_EQ(shortened("ab\xf0\x9f\x98\x80z", 5), "ab... (7 bytes)");
    EXPECT_EQ(shortened("abcd\x80\x80\x80\x80", 5), "abcd\x80... (8 bytes)");
    EXPECT_EQ(shortened(std::string(9, '\x80'), 5), "\x80\x80\x80\x80\x80... (9 bytes)");
    EXPECT_EQ(shortened(std::string(5 << 20, 'x')).size(), 200 + std::string("... (5242880 bytes)").size());
}

/// Saves each name in turn in `folder`, expecting the file name it is written under.
void expectSavedAs(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& saves) {
    for (std::size_t i = 0; i < saves.size(); ++i) {
        const auto& [name, savedAs] = saves[i];
        const std::string content = "content " + std::to_string(i);
        EXPECT_EQ(saveNewFile(folder, name, {content.begin(), content.end()}), folder + "/" + savedAs) << i;
        EXPECT_EQ(contentOf(folder + "/" + savedAs), content) << i;
    }
}

TEST(SaveFolderTest, AReceivedFileNeverReplacesAnother) {
    TemporaryFolder folder;
    std::string e125;
    for (int i = 0; i < 125; ++i) e125 += "\xc3\xa9";
    const std::string a251 = std::string(251, 'a') + ".txt";
    // Names near the limit of 255 bytes are cut before the extension and number, never inside a character.
    expectSavedAs(folder.path, {
                                   {"report.txt", "report.txt"},
                                   {"report.txt", "report-1.txt"},
                                   {"report.txt", "report-2.txt"},
                                   {"archive.tar.gz", "archive.tar.gz"},
                                   {"archive.tar.gz", "archive.tar-1.gz"},
                                   {"notes", "notes"},
                                   {"notes", "notes-1"},
                                   {a251, a251},
                                   {a251, std::string(249, 'a') + "-1.txt"},
                                   {e125 + ".bin", e125 + ".bin"},
                                   {e125 + ".bin", e125.substr(2) + "-1.bin"},
                                   {std::string(300, 'b'), std::string(255, 'b')},
                                   {std::string(300, 'b'), std::string(253, 'b') + "-1"},
                                   // Bytes that are not UTF-8 are no character to step back over.
                                   {std::string(300, '\x80') + ".txt", std::string(251, '_') + ".txt"},
                                   {std::string(300, '\x80'), std::string(255, '_')},
                               });
    EXPECT_EQ(contentOf(folder.path + "/report.txt"), "content 0");
}

TEST(SaveFolderTest, APeersNameBecomesAPlainFileNameInTheFolder) {
    using namespace std::string_literals;
    TemporaryFolder folder;
    const std::string kept = folder.path + "/kept";
    std::filesystem::create_directory(kept);
    expectSavedAs(kept, {
                            {"notes.txt\0.sh"s, "notes.txt_.sh"},
                            {"bell\a esc\x1b[2J cr\r lf\n del\x7f c1\xc2\x9b.txt",
                             "bell_ esc_[2J cr_ lf_ del_ c1_.txt"},
                            {"caf\xc3\xa9\xc2\xa0.txt", "caf\xc3\xa9\xc2\xa0.txt"},
                            {"\xc3\x9c" "bersicht-\xe5\xa0\xb1\xe5\x91\x8a.txt",
                             "\xc3\x9c" "bersicht-\xe5\xa0\xb1\xe5\x91\x8a.txt"},
                            {"bidi\xe2\x80\xaetxt.exe", "bidi_txt.exe"},
                            {"marks\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c \xe2\x80\xaa\xe2\x80\xac "
                             "\xe2\x81\xa6\xe2\x81\xa9.txt",
                             "marks___ __ __.txt"},
                            {"lone\x9b \xff\xfe overlong\xc0\xaf surrogate\xed\xa0\x80 cut\xe2\x82.txt",
                             "lone_ __ overlong__ surrogate___ cut__.txt"},
                            {"\x80.profile", "_.profile"},
                            {"../outside", "_._outside"},
                            {".hidden", "_hidden"},
                            {"..", "_."},
                            {"", "received.bin"},
                        });
    EXPECT_FALSE(std::filesystem::exists(folder.path + "/outside"));
    // A name the folder cannot keep as sent (here its path would pass the system's limit) is given
    // the neutral name.
    std::string deep = folder.path;
    while (deep.size() < PATH_MAX - 200) deep += "/" + std::string(100, 'd');
    std::filesystem::create_directories(deep);
    expectSavedAs(deep, {{std::string(250, 'n'), "received.bin"}, {std::string(250, 'n'), "received-1.bin"}});
}

TEST(SaveFolderTest, ANameWhoseNumberedFormsAreAllTakenIsRefused) {
    TemporaryFolder folder;
    std::ofstream(folder.path + "/many") << "x";
    for (int number = 1; number <= 999; ++number) std::ofstream(folder.path + "/many-" + std::to_string(number)) << "x";
    try {
        saveNewFile(folder.path, "many", {'y'});
        ADD_FAILURE() << "saved";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "the name and its numbered forms up to -999 are all taken");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), {}), 1000);
}

}  // namespace
}  // namespace quorvane::session
