#include "app/util/FormatByteSize.h"

#include <cmath>

void FormatByteSize(std::int64_t bytes, float& value, QString& unit)
{
    const float f = static_cast<float>(bytes);
    // Scaling by a power of two is exact: the value is the rounded count
    // divided by 1024, 1024^2 or 1024^3.
    if (bytes >= (std::int64_t(1) << 30)) {
        value = std::ldexp(f, -30);
        unit = QStringLiteral("GB");
    } else if (bytes >= (std::int64_t(1) << 20)) {
        value = std::ldexp(f, -20);
        unit = QStringLiteral("MB");
    } else if (bytes >= 1024) {
        value = std::ldexp(f, -10);
        unit = QStringLiteral("KB");
    } else {
        value = f;
        unit = QStringLiteral("Bytes");
    }
}
