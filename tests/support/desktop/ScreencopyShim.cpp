// Loaded into the portal backend (LD_PRELOAD) on the headless test desktop. The backend
// starts a cast only once the compositor has announced a dmabuf format for a screencopy
// frame, which a compositor on the software renderer never does; each shared-memory
// buffer offer is therefore also reported as a dmabuf offer of the same format, and the
// backend goes on to use the shared memory, which works.
#include <dlfcn.h>

#include <cstdint>
#include <cstring>

struct wl_proxy;

namespace {

using Callback = void (*)();
using AddListener = int (*)(wl_proxy*, Callback*, void*);
using GetClass = const char* (*)(wl_proxy*);

// The frame's events, in the protocol's order.
struct FrameListener {
    void (*buffer)(void*, wl_proxy*, std::uint32_t format, std::uint32_t width, std::uint32_t height,
                   std::uint32_t stride);
    void (*flags)(void*, wl_proxy*, std::uint32_t);
    void (*ready)(void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t);
    void (*failed)(void*, wl_proxy*);
    void (*damage)(void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);
    void (*linuxDmabuf)(void*, wl_proxy*, std::uint32_t format, std::uint32_t width, std::uint32_t height);
    void (*bufferDone)(void*, wl_proxy*);
};

const FrameListener* original = nullptr;
FrameListener wrapped;

constexpr std::uint32_t FourCc(char a, char b, char c, char d)
{
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 | std::uint32_t(std::uint8_t(c)) << 16 |
           std::uint32_t(std::uint8_t(d)) << 24;
}

// wl_shm names its two first formats 0 and 1; the others are the DRM codes already.
std::uint32_t DrmFormat(std::uint32_t shm)
{
    if (shm == 0) return FourCc('A', 'R', '2', '4');
    if (shm == 1) return FourCc('X', 'R', '2', '4');
    return shm;
}

void OnBuffer(void* data, wl_proxy* frame, std::uint32_t format, std::uint32_t width, std::uint32_t height,
              std::uint32_t stride)
{
    original->buffer(data, frame, format, width, height, stride);
    if (original->linuxDmabuf) original->linuxDmabuf(data, frame, DrmFormat(format), width, height);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int wl_proxy_add_listener(wl_proxy* proxy, Callback* listener,
                                                                            void* data)
{
    static const auto next = reinterpret_cast<AddListener>(dlsym(RTLD_NEXT, "wl_proxy_add_listener"));
    static const auto className = reinterpret_cast<GetClass>(dlsym(RTLD_NEXT, "wl_proxy_get_class"));
    if (std::strcmp(className(proxy), "zwlr_screencopy_frame_v1") == 0) {
        original = reinterpret_cast<const FrameListener*>(listener);
        wrapped = *original;
        wrapped.buffer = OnBuffer;
        listener = reinterpret_cast<Callback*>(&wrapped);
    }
    return next(proxy, listener, data);
}
