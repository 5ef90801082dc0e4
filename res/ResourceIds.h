#pragma once

#include <QString>

// Resource ids of the program's bitmaps, icon and strings. Each resource is
// compiled in under a path made from its id:
//   bitmap N -> ":/bitmaps/N.bmp"   (16 bpp, 5-5-5, uncompressed)
//   icon   N -> ":/icons/N/16.png", ":/icons/N/32.png", ":/icons/N/48.png"
//   string N -> ":/strings/N.txt"   (UTF-8, no line end)
//
// | id                       | size     | role                                   |
// |--------------------------|----------|----------------------------------------|
// | 171                      | 610x400  | main window background                 |
// | 152                      | 5x13     | progress fill, stretched horizontally  |
// | 163 165 166 164          | 92x31    | Pause/Resume, running look ("Pause")   |
// | 167 133 170 168          | 92x31    | Pause/Resume, paused look ("Resume")   |
// | 159 161 162 132          | 163x31   | Show containing folder                 |
// | 172 174 175 173          | 15x14    | Minimize "_"                           |
// | 131 157 158 156          | 15x14    | Close "x"                              |
// | 194 196 193 195          | 15x14    | Question "?" (opens the about box)     |
// | 216                      | 110x107  | about box: the maker's logo            |
// | 217                      | 275x2    | about box: horizontal rule             |
// | icon 200                 | 16/32/48 | application icon                       |
// | icon 212 213             | 16/32/48 | spare icons, shown by no code          |
// | string 101               |          | system menu's about item               |
//
// Button bitmaps are listed as up, down, focus, disabled.
// The artwork is drawn by res/generate/generate.py; never edit the files by hand.

namespace res {

inline constexpr int IDB_BACKGROUND = 171;
inline constexpr int IDB_PROGRESS_FILL = 152;

inline constexpr int IDB_PAUSE_UP = 163;
inline constexpr int IDB_PAUSE_DOWN = 165;
inline constexpr int IDB_PAUSE_FOCUS = 166;
inline constexpr int IDB_PAUSE_DISABLED = 164;

inline constexpr int IDB_RESUME_UP = 167;
inline constexpr int IDB_RESUME_DOWN = 133;
inline constexpr int IDB_RESUME_FOCUS = 170;
inline constexpr int IDB_RESUME_DISABLED = 168;

inline constexpr int IDB_SHOWFOLDER_UP = 159;
inline constexpr int IDB_SHOWFOLDER_DOWN = 161;
inline constexpr int IDB_SHOWFOLDER_FOCUS = 162;
inline constexpr int IDB_SHOWFOLDER_DISABLED = 132;

inline constexpr int IDB_MINIMIZE_UP = 172;
inline constexpr int IDB_MINIMIZE_DOWN = 174;
inline constexpr int IDB_MINIMIZE_FOCUS = 175;
inline constexpr int IDB_MINIMIZE_DISABLED = 173;

inline constexpr int IDB_CLOSE_UP = 131;
inline constexpr int IDB_CLOSE_DOWN = 157;
inline constexpr int IDB_CLOSE_FOCUS = 158;
inline constexpr int IDB_CLOSE_DISABLED = 156;

inline constexpr int IDB_QUESTION_UP = 194;
inline constexpr int IDB_QUESTION_DOWN = 196;
inline constexpr int IDB_QUESTION_FOCUS = 193;
inline constexpr int IDB_QUESTION_DISABLED = 195;

inline constexpr int IDB_ABOUT_LOGO = 216;
inline constexpr int IDB_ABOUT_RULE = 217;

inline constexpr int IDI_MAINFRAME = 200;

inline constexpr int IDS_ABOUTBOX = 101;

// Resource paths by id: ":/bitmaps/171.bmp", ":/icons/200/48.png", ":/strings/101.txt".
QString BitmapPath(int id);
QString IconPath(int id, int size);
QString StringPath(int id);

} // namespace res
