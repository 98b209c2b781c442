#pragma once

#include <string_view>

// Leading blanks, an optional sign, decimal digits up to the first other character;
// no digits give 0, values beyond 32 bits give the nearest limit.
int Wtoi(std::u16string_view text);
