// Why publishing failed, as the notifications tell it: one of the contract's
// reason codes and the English detail.
#pragma once

#include <string>

namespace castorn {

struct Failure {
    std::string reason;  // a castorn_notification::kReason... code
    std::string message;
};

}  // namespace castorn
