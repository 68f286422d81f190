// The main window's messages. Long steps are handed back to the main thread as queued calls
// of the window (posted: run later, in posting order; sent: run at once). The numbers are
// fixed so that logs and tests can name them.
#pragma once

namespace cw {

// Notifications of the desktop: files dropped on the window, the clipboard changed.
constexpr int WM_DROPFILES = 0x233;
constexpr int WM_DRAWCLIPBOARD = 0x308;

// The window's own messages count from the user message base.
constexpr int WM_USER = 0x400;
constexpr int WM_STARTCONVERT = WM_USER + 0x02;    // 0x402
constexpr int WM_CONVERTFINISHED = WM_USER + 0x03; // 0x403
constexpr int WM_FETCHVIDEOINFO = WM_USER + 0x04;  // 0x404
constexpr int WM_TRYNEXTQUALITY = WM_USER + 0x05;  // 0x405
constexpr int WM_LOADPROMO = 0x52C;
constexpr int WM_SHOWMAIN = 0x52D;

// "WM_STARTCONVERT" for 0x402 and so on; an empty text for an unknown number.
const char* WindowMessageName(int message);

} // namespace cw
