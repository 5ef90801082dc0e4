// Byte counts as a short value and a 1024-based unit, for the size and rate
// texts of the main window ("512.00 MB", "1.50 GB", "0.00 Bytes").
#pragma once

#include <QString>

#include <cstdint>

// `value` is the count rounded to single precision and scaled by the unit;
// the unit is "GB", "MB", "KB" or "Bytes". The unit is chosen from the exact
// count, so 2^30 - 1 bytes give "MB" with the value 1024 (the float rounds
// the count up before it is scaled). Zero and negative counts are "Bytes",
// unscaled. Both outputs are always written.
void FormatByteSize(std::int64_t bytes, float& value, QString& unit);
