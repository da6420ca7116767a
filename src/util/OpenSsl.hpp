#pragma once

namespace quorvane {

/// Initialises OpenSSL for the process without its exit-time clean-up. The library's transports
/// (WebRTC's threads, the HTTPS worker) may still be finishing work while a process exits; had
/// OpenSSL torn its state down in an exit handler, they would crash on it. Call it before anything
/// else in the library touches OpenSSL; later calls do nothing.
void initializeOpenSsl();

}  // namespace quorvane
