#include "engine/EngineLoader.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace engine_link {
namespace {

constexpr char kCastornLibrary[] = "libcastorn.so";
constexpr char kVistrelLibrary[] = "libvistrel.so";
constexpr char kCastornSymbol[] = "CreateCastorn";
// CreateVistrel(IVistrelNotify*) has C++ linkage.
constexpr char kVistrelSymbol[] = "_Z13CreateVistrelP14IVistrelNotify";

CastornFactory g_castornOverride = nullptr;
VistrelFactory g_vistrelOverride = nullptr;

void* LibrarySymbol(const char* library, const char* symbol)
{
    const std::string path = ProgramFolder() + library;
    // Never unloaded: an engine's threads may outlive its Release by a moment.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    return handle ? dlsym(handle, symbol) : nullptr;
}

}  // namespace

std::string ProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "./";
    std::string folder(path, static_cast<std::size_t>(length));
    return folder.substr(0, folder.rfind('/') + 1);
}

ICastorn* CreateCastorn(ICastornNotify* notify)
{
    if (g_castornOverride) return g_castornOverride(notify);
    auto factory = reinterpret_cast<CastornFactory>(LibrarySymbol(kCastornLibrary, kCastornSymbol));
    return factory ? factory(notify) : nullptr;
}

IVistrel* CreateVistrel(IVistrelNotify* notify)
{
    if (g_vistrelOverride) return g_vistrelOverride(notify);
    auto factory = reinterpret_cast<VistrelFactory>(LibrarySymbol(kVistrelLibrary, kVistrelSymbol));
    return factory ? factory(notify) : nullptr;
}

void SetFactories(CastornFactory castorn, VistrelFactory vistrel)
{
    g_castornOverride = castorn;
    g_vistrelOverride = vistrel;
}

}  // namespace engine_link
