#pragma once

#include <QString>

#include <cstddef>

class QWidget;

// Size, in UTF-16 characters with the terminating NUL, of the text buffers
// that OpenWithExplorer and EscapeUrlQuery work on.
constexpr std::size_t kShellTextCapacity = 2048;

// Sorts a Windows version into the class the BitTorrent set-up picks its
// half-open connection limit from: 0, 1 or 2. servicePack may be null
// (taken as empty).
int ClassifyWindowsVersion(unsigned major, unsigned minor, const char16_t* servicePack);

// The class of the running system. There is no Windows version to ask for
// here, so the version query fails and the class is 0.
int GetWindowsVersionClass();

// Percent-escapes, in place, the query of the URL in buffer (a NUL-terminated
// text in a buffer of kShellTextCapacity characters): the text between the
// first "?" and a second "?", whatever follows a second "?" being dropped.
// Control characters, blanks, " < > \ ^ ` { | } [ ] & / ? #, DEL and all
// non-ASCII (as UTF-8 bytes) are escaped; letters, digits and
// = % + ; : @ $ , ! * ' ( ) ~ - . _ are kept. Without a query the buffer is
// left as it is. Returns false, leaving the buffer unchanged, when the result
// would not fit with its NUL.
bool EscapeUrlQuery(char16_t* buffer);

// Opens a folder or URL with the desktop's handler (xdg-open), started
// detached with the text as its one argument: a URL with its query escaped,
// an absolute folder path ("/...") unchanged, "?" and all. Returns
// false and starts nothing when the text is null, has kShellTextCapacity
// characters or more, or its query cannot be escaped; true otherwise, also
// when the handler could not be started.
bool OpenWithExplorer(const char16_t* text);

// Asks the user for a folder with a directory chooser, window-modal to owner
// (application-modal when owner is null), titled title. On success the
// chosen folder's absolute path is written NUL-terminated into out (capacity
// characters, NUL included) and true returned. False, with nothing written,
// when the user cancels, when the path does not fit, or when the choice is
// the root "/": a path must have at least 2 characters to be usable as a
// destination here (the root, like a bare drive on other systems, is not).
bool BrowseForFolder(QWidget* owner, QString title, char16_t* out, std::size_t capacity);
