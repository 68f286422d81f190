#include "control/WindowMessages.h"

namespace cw {

const char* WindowMessageName(int message) {
    struct TName {
        int Number;
        const char* Name;
    };
    static const TName names[] = {
        {WM_DROPFILES, "WM_DROPFILES"},           {WM_DRAWCLIPBOARD, "WM_DRAWCLIPBOARD"},
        {WM_STARTCONVERT, "WM_STARTCONVERT"},     {WM_CONVERTFINISHED, "WM_CONVERTFINISHED"},
        {WM_FETCHVIDEOINFO, "WM_FETCHVIDEOINFO"}, {WM_TRYNEXTQUALITY, "WM_TRYNEXTQUALITY"},
        {WM_LOADPROMO, "WM_LOADPROMO"},           {WM_SHOWMAIN, "WM_SHOWMAIN"},
    };
    for (const auto& n : names)
        if (n.Number == message)
            return n.Name;
    return "";
}

} // namespace cw
