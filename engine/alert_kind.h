#pragma once

namespace engine {

// What the program reacts to, classified by the alert's exact type.
enum class alert_kind {
    tracker_error,  // a tracker request failed or timed out
    tracker_reply,  // a tracker answered an announce
    file_error,     // a disk read or write failed, or the file check did
    other,          // anything else
};

}  // namespace engine
