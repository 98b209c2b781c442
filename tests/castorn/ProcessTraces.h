// What the test process holds now: its threads, descriptors and connections, to tell
// what the engine leaves behind.
#pragma once

#include <string>
#include <vector>

namespace castorn_test {

std::vector<std::string> ThreadNames();
// The engine names each of its own threads "castorn-...".
bool NoEngineThread();
int OpenDescriptors();
// TCP connections to `port` that a descriptor still holds: this process's, as nobody
// else connects to the test's own server.
int ConnectionsTo(int port);

}  // namespace castorn_test
