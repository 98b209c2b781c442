// The reply to "GetPlayerList": {"data":{"player":[...]}} in at most `limit`
// bytes with its NUL. Names that do not fit are left out, never cut, so the
// reply is always whole JSON.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace castorn {

std::string FitPlayerReply(const std::vector<std::string>& names, std::size_t limit);

}  // namespace castorn
