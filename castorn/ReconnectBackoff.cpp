#include "castorn/ReconnectBackoff.h"

#include <algorithm>
#include <cmath>

namespace castorn {

std::chrono::milliseconds ReconnectBackoff::Next()
{
    const double grown = static_cast<double>(kFirst.count()) * std::pow(1.5, std::min(m_attempts, 32));
    ++m_attempts;
    return std::chrono::milliseconds(std::min(static_cast<long long>(grown), static_cast<long long>(kLongest.count())));
}

}  // namespace castorn
