// The update server's host, fixed when the program is built.
#pragma once

/// The host (optionally followed by ":port") that completes the update base
/// address. Each program that links the update chain builds
/// UpdateServerHost.cpp with its own UPDATE_SERVER_HOST, so that the tests
/// and the demo can point a real build at a loopback server.
const char* UpdateServerHost();
