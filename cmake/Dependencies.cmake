# Every dependency comes from a Debian 12 package (scripts/setup installs them).
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
find_package(tg_owt REQUIRED)
find_package(FlatBuffers REQUIRED)
find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(MOSQUITTO REQUIRED IMPORTED_TARGET libmosquitto)
find_program(FLATC flatc REQUIRED)
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)

set(QUORVANE_ASIO_DEFINITIONS ASIO_STANDALONE ASIO_NO_DEPRECATED)
# ThreadSanitizer does not model memory fences; GCC warns at each of asio's. Its mutexes order the
# handlers of a queue, so the fences asio adds around a handler's call are left out in that build.
if(QUORVANE_SANITIZE MATCHES "thread")
  list(APPEND QUORVANE_ASIO_DEFINITIONS ASIO_DISABLE_FENCED_BLOCK)
endif()
set(QUORVANE_PRIVATE_LIBS
  flatbuffers::flatbuffers CURL::libcurl OpenSSL::SSL nlohmann_json::nlohmann_json PkgConfig::MOSQUITTO)

# Everything the library's own sources build against, for targets inside this tree.
add_library(quorvane_deps INTERFACE)
target_compile_definitions(quorvane_deps INTERFACE ${QUORVANE_ASIO_DEFINITIONS})
target_include_directories(quorvane_deps INTERFACE ${ASIO_INCLUDE_DIR})
target_link_libraries(quorvane_deps INTERFACE Threads::Threads ${QUORVANE_PRIVATE_LIBS})
