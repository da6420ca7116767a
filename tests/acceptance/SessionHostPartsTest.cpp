// The host program's own parts: the progress of large transfers, the file tag, the command line.

#include <gtest/gtest.h>

#include "HostProgram.hpp"
#include "Options.hpp"
#include "Payloads.hpp"
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

TEST(HostProgramTest, ATimeOutTheLibraryRefusesEndsTheProgramWithItsUsage) {
    std::vector<const char*> words = {"quorvane_session", "device", "--url", "http://127.0.0.1:9", "--api-key", "k",
                                      "--timeout", "100000"};
    const auto status = runHostProgram(static_cast<int>(words.size()), const_cast<char**>(words.data()),
                                       [](const Options& options, auto logger, const auto& delegate, const auto& queue) {
                                           return QuorvaneClient::create(options.url, options.apiKey, true,
                                                                         options.timeout, logger, delegate, queue);
                                       });
    EXPECT_EQ(status, 2);
}

TEST(OptionsTest, RefusesCommandLinesItCannotUse) {
    const std::vector<std::vector<const char*>> refused = {
        {"quorvane_session"},
        {"quorvane_session", "helper", "--url", "u", "--api-key", "k"},
        {"quorvane_session", "agent", "--url", "u", "--api-key", "k"},
        {"quorvane_session", "device", "--url", "u", "--api-key", "k", "--pin", "1"},
        {"quorvane_session", "device", "--api-key", "k"},
        {"quorvane_session", "device", "--url", "u", "--api-key", "k", "--timeout", "5s"},
        {"quorvane_session", "device", "--url", "u", "--api-key"},
    };
    for (auto words : refused) {
        bool help = false;
        EXPECT_THROW(parseOptions(static_cast<int>(words.size()), const_cast<char**>(words.data()), help),
                     std::invalid_argument)
            << words.size();
    }
    std::vector<const char*> agent = {"quorvane_session", "agent",     "--url", "u", "--api-key", "k", "--pin",
                                      "123456",           "--timeout", "12"};
    bool help = false;
    const auto options = parseOptions(static_cast<int>(agent.size()), const_cast<char**>(agent.data()), help);
    EXPECT_EQ(options.role, Options::Role::agent);
    EXPECT_EQ(options.pin, "123456");
    EXPECT_EQ(options.timeout, 12);
}

}  // namespace
}  // namespace quorvane::session
