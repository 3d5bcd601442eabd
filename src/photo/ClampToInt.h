#pragma once

#include <climits>
#include <cmath>

// Truncation toward zero without the undefined behaviour of converting a value no int holds:
// crafted rationals reach 2^31, 0/0 in a float field is NaN, and a zoom can be anything.
inline int ClampToInt(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= double(INT_MAX))
        return INT_MAX;
    if (v <= double(INT_MIN))
        return INT_MIN;
    return int(v);
}
