// Must not compile: only src/rtc/ sees WebRTC's headers.
#include <api/peer_connection_interface.h>
