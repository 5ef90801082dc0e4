// SIGTERM and SIGINT (a desktop logout, kill, Ctrl-C in a terminal) close the
// main window as the window manager's close button does: the dialog ends,
// its destruction stops the engine (which sends its "stopped" announce), and
// the process exits normally. A second signal of the same kind ends the
// process at once, as if nothing were installed.
#pragma once

// Installs the handlers. Call while the process has one thread: the handler
// only writes a byte to a pipe, and every thread started later may run it.
void AfxInstallCloseSignals();
// Once the QApplication exists: reads that pipe from the event loop and
// sends WM_CLOSE to the main window, and from then on closes any box or
// picker that is up, so the run ends without waiting for an answer.
void AfxWatchCloseSignals();
