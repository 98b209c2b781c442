// Names of the sinks this engine creates on the sound server. The name carries the
// owner's process id and instance, unique among those connected at once; the owner's
// connection carries the name as its mark (PulseSession.h), so that sinks and loopbacks
// whose owner is gone can be recognised and removed later.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace castorn {

struct CaptureSinkOwner {
    pid_t pid;
    unsigned instance;
    bool operator==(const CaptureSinkOwner&) const = default;
};

std::string CaptureSinkName(const CaptureSinkOwner& owner);

// The owner named in a module's argument (the sink's own, or a loopback reading
// its monitor), if the argument mentions one of our sinks.
std::optional<CaptureSinkOwner> CaptureSinkOwnerIn(std::string_view argument);

}  // namespace castorn
