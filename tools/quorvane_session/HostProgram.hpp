#pragma once

#include <functional>
#include <memory>

#include "Options.hpp"
#include "quorvane/DispatchQueue.hpp"
#include "quorvane/Logger.hpp"
#include "quorvane/QuorvaneClient.hpp"
#include "quorvane/QuorvaneDelegate.hpp"

namespace quorvane::session {

/// Builds the program's client from its options, logger, delegate and delegate queue.
using ClientFactory = std::function<std::shared_ptr<QuorvaneClient>(
    const Options& options, std::shared_ptr<Logger> logger, const std::shared_ptr<QuorvaneDelegate>& delegate,
    const DispatchQueuePtr& queue)>;

/// The whole program for this command line: the scripted walkthrough with --script, else the
/// session started and typed commands carried out until "quit", the end of standard input, SIGINT
/// or SIGTERM, which all end the session as "disconnect" does; SIGINT and SIGTERM do so at any
/// moment, during the start-up and the walkthrough too. Returns the exit status (128 plus the
/// signal's number after a signal).
int runHostProgram(int argc, char** argv, const ClientFactory& makeClient);

}  // namespace quorvane::session
