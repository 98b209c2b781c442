#include "castorn/background/CaptureSinkName.h"

#include <charconv>

namespace castorn {

namespace {

constexpr std::string_view kPrefix = "castorn_bg_";

template <class Number>
std::optional<Number> ReadNumber(std::string_view& text)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

bool EndsName(std::string_view rest)
{
    return rest.empty() || rest.front() == '.' || rest.front() == ' ' || rest.front() == '"';
}

}  // namespace

std::string CaptureSinkName(const CaptureSinkOwner& owner)
{
    return std::string(kPrefix) + std::to_string(owner.pid) + "_" + std::to_string(owner.instance);
}

std::optional<CaptureSinkOwner> CaptureSinkOwnerIn(std::string_view argument)
{
    const std::size_t at = argument.find(kPrefix);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = argument.substr(at + kPrefix.size());
    const auto pid = ReadNumber<pid_t>(rest);
    if (!pid || rest.empty() || rest.front() != '_') return std::nullopt;
    rest.remove_prefix(1);
    const auto instance = ReadNumber<unsigned>(rest);
    if (!instance || !EndsName(rest)) return std::nullopt;
    return CaptureSinkOwner{*pid, *instance};
}

}  // namespace castorn
