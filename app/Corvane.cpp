// The one application object. Only the program links this file: the
// framework's main() runs its InitInstance.
#include "app/CorvaneApp.h"

CCorvaneApp theApp;
