// Why publishing failed, as the notifications tell it: one of the contract's
// reason codes and the English detail.
#pragma once

#include <string>

namespace castorn {

struct Failure {
    std::string reason;  // a castorn_notification::kReason... code
    std::string message;
    std::string field = {};  // for kReasonParameter: the castorn_parameter name, and its value
    int value = 0;
};

}  // namespace castorn
