#include "ui/SkinLayout.h"

namespace cw {

namespace {
const QColor Grey(0x80, 0x80, 0x80);
const QColor White(0xFF, 0xFF, 0xFF);

// One row per layout, as the columns of the layout table read.
const TSkinLayout Layouts[] = {
    {true,
     {696, 4},
     {728, 4},
     {40, 510},
     0,
     {138, 510},
     {426, 510},
     {522, 510},
     {672, 510},
     {203, 74},
     {24, 43},
     true,
     Grey,
     -1,
     -1,
     false},
    {true,
     {766, 3},
     {794, 3},
     {25, 566},
     0,
     {120, 566},
     {400, 566},
     {495, 566},
     {730, 566},
     {240, 110},
     {252, 70},
     true,
     White,
     -1,
     -1,
     false},
    {true,
     {696, 6},
     {728, 4},
     {40, 513},
     5,
     {138, 513},
     {426, 513},
     {522, 513},
     {672, 513},
     {198, 74},
     {24, 43},
     true,
     Grey,
     -1,
     -1,
     false},
    {false,
     {},
     {},
     {10, 515},
     0,
     {120, 515},
     {350, 515},
     {460, 515},
     {665, 515},
     {203, 74},
     {215, 55},
     false,
     White,
     165,
     180,
     true},
};
} // namespace

const TSkinLayout* SkinLayout(int skin) {
    if (skin < 0 || skin >= int(sizeof(Layouts) / sizeof(Layouts[0])))
        return nullptr;
    return &Layouts[skin];
}

} // namespace cw
