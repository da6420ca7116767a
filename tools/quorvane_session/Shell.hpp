#pragma once

#include <string>

#include "Console.hpp"
#include "ShellActions.hpp"

namespace quorvane::session {

/// Typed commands, one a line: each line's arguments are checked and the command handed to
/// `actions`, or the line is refused with one line on the console saying what was wrong and what
/// the command takes. No line ends the shell but "quit".
class Shell {
public:
    Shell(Console& console, ShellActions& actions) : console_(console), actions_(actions) {}

    /// Carries out or refuses one line; false for "quit".
    bool execute(const std::string& line);

private:
    /// Prints a refusal, the typed words in it escaped.
    void refuse(const std::string& refusal);

    Console& console_;
    ShellActions& actions_;
};

/// The shell's commands, one a line, and how the peer answers.
std::string shellHelp();

}  // namespace quorvane::session
