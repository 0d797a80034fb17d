// One GET into memory, as the updater makes it, in a process of its own so
// that its peak memory can be read from outside. Used by HttpBench.
//
//   HttpGetOnce <url> <expected size>
//   HttpGetOnce --fill-only <size>
//
// Exits 0 when the body arrived whole and matches the served file's pattern
// at every 64 KiB; prints the time the request took. With --fill-only it
// makes no request and only fills a buffer of that size the way the client
// does (sized once, written in pieces): the floor that keeping a body in
// fresh memory costs, whatever the network.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "platform/AntiFreeze.hpp"
#include "platform/HttpClient.hpp"
#include "platform/MemoryStream.hpp"
#include "support/TestHttpServer.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <url> <expected size>\n", argv[0]);
    return 2;
  }
  const std::size_t expected = std::strtoull(argv[2], nullptr, 10);
  if (std::string(argv[1]) == "--fill-only") {
    static const std::string piece(256 * 1024, 'x');
    platform::TMemoryStream buffer;
    buffer.Reserve(expected);
    while (buffer.Size() < expected) {
      buffer.Write(piece.data(), std::min(piece.size(), expected - buffer.Size()));
    }
    return buffer.Size() == expected ? 0 : 1;
  }
  // A window that is serviced as in the updater: a call after every piece of
  // data, handing control to a loop that finds nothing to do.
  long services = 0;
  platform::TIdAntiFreeze anti_freeze([&services] { ++services; });
  anti_freeze.OnlyWhenIdle = false;
  platform::TIdHTTP http(&anti_freeze);
  platform::TMemoryStream buffer;
  const auto start = std::chrono::steady_clock::now();
  try {
    http.Get(argv[1], buffer);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "GET failed: %s\n", error.what());
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (buffer.Size() != expected) {
    std::fprintf(stderr, "got %zu bytes, expected %zu\n", buffer.Size(), expected);
    return 1;
  }
  for (std::size_t i = 0; i < buffer.Size(); i += 65536) {
    if (buffer.Data()[i] != test_support::FileByte(i)) {
      std::fprintf(stderr, "byte %zu differs\n", i);
      return 1;
    }
  }
  std::printf("get_seconds=%.6f services=%ld\n", seconds, services);
  return 0;
}
