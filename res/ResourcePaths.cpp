#include "res/ResourceIds.h"

namespace res {

QString BitmapPath(int id)
{
    return QStringLiteral(":/bitmaps/%1.bmp").arg(id);
}

QString IconPath(int id, int size)
{
    return QStringLiteral(":/icons/%1/%2.png").arg(id).arg(size);
}

QString StringPath(int id)
{
    return QStringLiteral(":/strings/%1.txt").arg(id);
}

} // namespace res
