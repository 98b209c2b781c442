#include "support/BuildTree.h"

namespace test_support {

std::string SourceDir()
{
    return TAVISK_SOURCE_DIR;
}

std::string BuildDir()
{
    return TAVISK_BUILD_DIR;
}

std::string PeersDir()
{
    return BuildDir() + "/peers";
}

}  // namespace test_support
