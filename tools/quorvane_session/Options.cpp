#include "Options.hpp"

#include <charconv>
#include <stdexcept>

#include "SaveFolder.hpp"

namespace quorvane::session {

const char* const usage =
    "usage: quorvane_session device|agent --url URL --api-key KEY [options]\n"
    "  device                  create a session and print its PIN (\"PIN: 123456\")\n"
    "  agent --pin PIN         join the session with this PIN\n"
    "  --url URL               the REST service's base URL, for example https://api.example.test\n"
    "  --api-key KEY           the service's API key\n"
    "  --script                follow the demo's walkthrough instead of reading commands\n"
    "  --timeout SECONDS       the signaling time-out, a whole number from 1 to 86400 (default 30)\n"
    "  --save-folder DIR       keep the files that arrive in DIR (a file never replaces another)\n"
    "  --no-retain-logs        keep no log entries for the upload at the end of a session\n"
    "  --verbose               print all the library's log lines on standard error, not only its errors\n"
    "Without --script, commands are read from standard input, one a line ('help' lists them).\n"
    "Exit status: 0 after quit or the end of the input, or when every step of --script passed;\n"
    "1 when the session could not be started, or a step of --script failed; 2 for a command line\n"
    "that cannot be used; 128+N after signal N ended it (130 for Ctrl-C, 143 for SIGTERM).\n";

namespace {

constexpr int longestTimeout = 86400;

int parseTimeout(const std::string& text) {
    int seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || seconds < 1 ||
        seconds > longestTimeout) {
        throw std::invalid_argument("--timeout takes a whole number of seconds from 1 to " +
                                    std::to_string(longestTimeout) + ", not \"" + text + "\"");
    }
    return seconds;
}

}  // namespace

Options parseOptions(int argc, char** argv, bool& help) {
    Options options;
    help = false;
    if (argc < 2) throw std::invalid_argument("device or agent?");
    const std::string role = argv[1];
    if (role == "--help" || role == "-h") {
        help = true;
        return options;
    }
    if (role != "device" && role != "agent") throw std::invalid_argument("the first argument is device or agent");
    options.role = role == "device" ? Options::Role::device : Options::Role::agent;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument("missing value after " + option);
            return argv[++i];
        };
        if (option == "--help" || option == "-h") {
            help = true;
        } else if (option == "--url") {
            options.url = value();
        } else if (option == "--api-key") {
            options.apiKey = value();
        } else if (option == "--pin") {
            options.pin = value();
        } else if (option == "--script") {
            options.script = true;
        } else if (option == "--timeout") {
            options.timeout = parseTimeout(value());
        } else if (option == "--save-folder") {
            options.saveFolder = value();
        } else if (option == "--no-retain-logs") {
            options.retainLogs = false;
        } else if (option == "--verbose") {
            options.verbose = true;
        } else {
            throw std::invalid_argument("unknown option " + option);
        }
    }
    if (help) return options;
    if (options.url.empty() || options.apiKey.empty()) throw std::invalid_argument("--url and --api-key are needed");
    if (options.role == Options::Role::agent && options.pin.empty())
        throw std::invalid_argument("the agent needs --pin");
    if (options.role == Options::Role::device && !options.pin.empty()) {
        throw std::invalid_argument("--pin is for the agent");
    }
    if (!options.saveFolder.empty()) {
        const std::string problem = saveFolderProblem(options.saveFolder);
        if (!problem.empty()) {
            throw std::invalid_argument("--save-folder " + options.saveFolder + " cannot keep files: " + problem);
        }
    }
    return options;
}

}  // namespace quorvane::session
