// A static library that uses the resources, standing in for framework/.
#include "res/ResourceIds.h"

#include <QFile>

bool ProbeBackgroundExists()
{
    return QFile::exists(res::BitmapPath(res::IDB_BACKGROUND));
}
