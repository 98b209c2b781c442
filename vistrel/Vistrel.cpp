// The capture-and-preview engine: the program only creates it and hands it its
// callback object; it captures nothing of its own.
#include "interface/EngineInterface.h"

namespace {

class Vistrel final : public IVistrel {
public:
    explicit Vistrel(IVistrelNotify* notify) : m_notify(notify) {}
    void Release() override { delete this; }

private:
    [[maybe_unused]] IVistrelNotify* m_notify;
};

}  // namespace

IVistrel* CreateVistrel(IVistrelNotify* notify)
{
    return new Vistrel(notify);
}
