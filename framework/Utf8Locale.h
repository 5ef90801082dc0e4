// The process's locale names UTF-8, set once at the start of main while the
// process has one thread (setenv racing another thread's getenv is
// undefined).
#pragma once

// libtorrent converts names between UTF-8 and the locale's encoding unless
// $LANG names UTF-8, spelt exactly "UTF-8", and so do the programs we start
// (xdg-open with a folder name). Every name the program has is UTF-8 (the
// torrent's file names, the folder from the picker). The engine's own file
// storage opens files by those names whatever LANG says; everything else
// sees them right only with LANG naming UTF-8. This makes LANG end in ".UTF-8", the language kept
// ("en_US.utf8" -> "en_US.UTF-8", unset -> "C.UTF-8"; a modifier such as
// "@euro" is dropped). The C library finds the same locale under either
// spelling of the codeset. Call it before any thread starts.
void AfxUseUtf8Locale();
