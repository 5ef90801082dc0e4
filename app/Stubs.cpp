// Members of the main window whose work is not written yet. Each goes from
// here to its own file as it is implemented.
#include "app/CorvaneDlg.h"

