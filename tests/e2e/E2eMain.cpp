// main() of the end-to-end tests: the process first moves into a private
// network namespace with only loopback up (these tests start the real
// engine), then the widget tests' QApplication.
#include "tests/support/QtTestMain.h"

int main(int argc, char** argv) { return RunQtTests(argc, argv, TestIsolation::Network); }
