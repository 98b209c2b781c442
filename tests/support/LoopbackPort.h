// Ports on 127.0.0.1 for the servers that tests start.
#pragma once

namespace test_support {

int FreeLoopbackPort();
bool LoopbackListening(int port);

}  // namespace test_support
