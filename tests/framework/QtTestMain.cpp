// main() of the widget tests: an offscreen QApplication (unless a display
// was asked for), no native dialogs, and the application object the
// framework expects.
#include "tests/support/QtTestMain.h"

int main(int argc, char** argv) { return RunQtTests(argc, argv); }
