// Windows types and constants that the application code is written against.
// Only the values the program uses are defined; each keeps its Win32 value so
// that code reads and behaves as it did on Windows (style bits, command ids,
// message-box results).
#pragma once

#include <QString>
#include <QIcon>
#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using UINT_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using COLORREF = std::uint32_t;
using WCHAR = char16_t;
using CString = QString;          // wide text is UTF-16, as on Windows
using HICON = QIcon;              // icons are values here, not handles
using HCURSOR = QIcon;
using HBRUSH = void*;             // controls draw no background here: always null

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

constexpr COLORREF RGB(int r, int g, int b)
{
    return COLORREF(r & 0xFF) | (COLORREF(g & 0xFF) << 8) | (COLORREF(b & 0xFF) << 16);
}
constexpr int GetRValue(COLORREF c) { return c & 0xFF; }
constexpr int GetGValue(COLORREF c) { return (c >> 8) & 0xFF; }
constexpr int GetBValue(COLORREF c) { return (c >> 16) & 0xFF; }
constexpr LPARAM MAKELPARAM(int lo, int hi) { return LPARAM((DWORD(WORD(lo)) | (DWORD(WORD(hi)) << 16))); }
constexpr int GET_X_LPARAM(LPARAM l) { return short(WORD(DWORD(l) & 0xFFFF)); }
constexpr int GET_Y_LPARAM(LPARAM l) { return short(WORD((DWORD(l) >> 16) & 0xFFFF)); }

struct RECT { LONG left = 0, top = 0, right = 0, bottom = 0; };
struct POINT { LONG x = 0, y = 0; };
struct CRect : RECT {
    CRect() = default;
    CRect(LONG l, LONG t, LONG r, LONG b) { left = l; top = t; right = r; bottom = b; }
    LONG Width() const { return right - left; }
    LONG Height() const { return bottom - top; }
};
struct CPoint : POINT {
    CPoint() = default;
    CPoint(LONG px, LONG py) { x = px; y = py; }
};
struct BITMAP { LONG bmType = 0, bmWidth = 0, bmHeight = 0, bmWidthBytes = 0; WORD bmPlanes = 0, bmBitsPixel = 0; void* bmBits = nullptr; };

// What PreTranslateMessage sees of a message.
struct MSG { UINT message = 0; WPARAM wParam = 0; LPARAM lParam = 0; };

// Messages
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_NCLBUTTONDOWN = 0x00A1;
constexpr UINT WM_SETICON = 0x0080;
constexpr UINT PBM_SETPOS = 0x0402;
constexpr UINT PBM_GETPOS = 0x0408;
constexpr UINT BN_CLICKED = 0;
constexpr WPARAM HTCAPTION = 2;
constexpr WPARAM ICON_SMALL = 0, ICON_BIG = 1;

// Virtual keys
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_SPACE = 0x20;

// Window styles
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD DS_CENTER = 0x0800;
constexpr DWORD SS_LEFT = 0x0, SS_CENTER = 0x1, SS_RIGHT = 0x2, SS_BITMAP = 0xE, SS_NOPREFIX = 0x80,
                SS_ENDELLIPSIS = 0x4000;
constexpr DWORD BS_PUSHBUTTON = 0x0, BS_DEFPUSHBUTTON = 0x1, BS_OWNERDRAW = 0xB;
constexpr int GWL_STYLE = -16;

// ShowWindow
constexpr int SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOWMINIMIZED = 2, SW_SHOW = 5, SW_MINIMIZE = 6,
              SW_RESTORE = 9;

// Message boxes
constexpr UINT MB_OK = 0x0, MB_OKCANCEL = 0x1, MB_YESNOCANCEL = 0x3, MB_YESNO = 0x4, MB_TYPEMASK = 0xF;
constexpr UINT MB_ICONHAND = 0x10, MB_ICONERROR = 0x10, MB_ICONSTOP = 0x10, MB_ICONQUESTION = 0x20,
               MB_ICONEXCLAMATION = 0x30, MB_ICONWARNING = 0x30, MB_ICONINFORMATION = 0x40,
               MB_ICONASTERISK = 0x40, MB_ICONMASK = 0xF0;
constexpr int IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7;

// System menu
constexpr UINT SC_MOVE = 0xF010, SC_MINIMIZE = 0xF020, SC_CLOSE = 0xF060, SC_RESTORE = 0xF120;
constexpr UINT MF_STRING = 0x0, MF_GRAYED = 0x1, MF_SEPARATOR = 0x800;

// Painting
constexpr int TRANSPARENT = 1, OPAQUE = 2;
constexpr int NULL_BRUSH = 5;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr int SM_CXICON = 11, SM_CYICON = 12;
constexpr UINT ODS_SELECTED = 0x1, ODS_DISABLED = 0x4, ODS_FOCUS = 0x10;
constexpr UINT CTLCOLOR_BTN = 3, CTLCOLOR_DLG = 4, CTLCOLOR_STATIC = 6;

// Fonts
constexpr int FW_DONTCARE = 0, FW_NORMAL = 400, FW_BOLD = 700;
constexpr BYTE DEFAULT_CHARSET = 1, OUT_DEFAULT_PRECIS = 0, CLIP_DEFAULT_PRECIS = 0, DEFAULT_QUALITY = 0,
               DEFAULT_PITCH = 0, FF_SWISS = 0x20;

int GetSystemMetrics(int index);
