#include "util/OpenSsl.hpp"

#include <openssl/crypto.h>
#include <openssl/ssl.h>

namespace quorvane {

void initializeOpenSsl() {
    static const bool initialised = [] {
        OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT | OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                         nullptr);
        return true;
    }();
    (void)initialised;
}

}  // namespace quorvane
