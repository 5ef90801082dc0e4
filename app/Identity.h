// Who this program is: its version code (compared with the configuration
// text's field 0), and how it introduces itself to peers and trackers.
// Change the version code and all of them change with it.
#pragma once

#include "engine/fingerprint.h"

#include <cstdlib>
#include <string>

#include <QString>

// The program's version code, the one compiled-in copy.
inline constexpr char16_t kVersionCode[] = u"7";

// The narrow form of the version code ("ANSI" text is UTF-8 here).
inline std::string VersionCodeNarrow()
{
    return QString::fromUtf16(kVersionCode).toStdString();
}

// Peers see client "KQ", version 0.<version code>.0.0 ("-KQ0700-").
inline engine::fingerprint ClientFingerprint()
{
    engine::fingerprint fp;
    fp.name = "KQ";
    fp.major_version = 0;
    fp.minor_version = std::atoi(VersionCodeNarrow().c_str());
    fp.revision_version = 0;
    fp.tag_version = 0;
    return fp;
}

// The user agent towards trackers and web seeds: "TrxTorrent/0.7.0.0".
inline std::string ClientUserAgent()
{
    return QString::fromUtf16(u"TrxTorrent").toStdString() + "/0." + VersionCodeNarrow() + ".0.0";
}
