// The corners of a box, numbered x + 2y + 4z (bit k set: the far side on
// axis k), and its twelve facets counter-clockwise seen from outside: the
// closed, outward model that the geometry and check tests turn, open and
// flip.
#pragma once

#include <array>

namespace testing_support {

constexpr std::array<std::array<int, 3>, 12> BOX_FACETS = {{
    {0, 2, 3},
    {0, 3, 1},
    {4, 5, 7},
    {4, 7, 6},
    {0, 1, 5},
    {0, 5, 4},
    {2, 6, 7},
    {2, 7, 3},
    {0, 4, 6},
    {0, 6, 2},
    {1, 3, 7},
    {1, 7, 5},
}};

}  // namespace testing_support
