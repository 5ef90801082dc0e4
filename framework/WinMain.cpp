// The process entry belongs to the framework, as WinMain does in MFC. It is
// alone in this file so that programs with a main of their own (the tests)
// do not pull it in.
#include "framework/WinApp.h"

int main(int argc, char** argv)
{
    return AfxWinMain(argc, argv);
}
