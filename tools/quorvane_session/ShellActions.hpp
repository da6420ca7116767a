#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quorvane/QVAcknowledgeOn.hpp"

namespace quorvane::session {

/// What the shell's commands do once their arguments have been checked: every argument handed
/// here is one the library takes.
class ShellActions {
public:
    virtual ~ShellActions() = default;

    virtual void chat(const std::string& text) = 0;
    virtual void notify(const std::string& text) = 0;
    virtual void command(const std::string& text, QVAcknowledgeOn acknowledgeOn, double timeout) = 0;
    virtual void query(const std::string& text, double timeout) = 0;
    virtual void bytes(std::size_t size) = 0;
    virtual void file(const std::string& name, std::vector<std::uint8_t> bytes, double timeout) = 0;
    virtual void screen() = 0;
    virtual void startSession() = 0;
    virtual void join(const std::string& pin) = 0;
    virtual void status() = 0;
    virtual void disconnect() = 0;
};

}  // namespace quorvane::session
