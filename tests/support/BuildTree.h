// The folders the tests were built from and into.
#pragma once

#include <string>

namespace test_support {

std::string SourceDir();
std::string BuildDir();
std::string PeersDir();  // the npm peers pinned in tests/peers, installed by the test set-up

}  // namespace test_support
