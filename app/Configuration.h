// The configuration text that the maker's web server hands out at every
// start, and what the start routine makes of it. The text is narrow (UTF-8)
// and split at every "|"; fields are never trimmed:
//
//   0 version code   "7": go on; "-1": retired; anything else: an update exists
//   1 homepage       opened on Yes to the retire or update question
//   2 notice         shown in a box when not empty
//   3 page           opened when not empty
//   4 .torrent URL   fetched next
//   5 web seed       optional (taken only when there are 6 or more fields)
#pragma once

#include <QString>

#include <string>
#include <string_view>

// Where the configuration text lives: plain HTTP to the maker's server (its
// host a build setting), or the address a test has set.
std::u16string ConfigurationAddress();
// For tests only: replaces the address; an empty text restores the built-in one.
void SetConfigurationAddressForTesting(const std::u16string& address);

struct ConfigurationDecision
{
    enum class Action {
        TooFewFields,  // fewer than 2 fields: message (2)
        Retire,        // field 0 is exactly "-1": the retire question
        Update,        // field 0 is neither the version code nor "-1": the update question
        Proceed,       // field 0 is the version code: notice, page, .torrent, folder
    };
    Action action = Action::TooFewFields;

    // Retire and Update: field 1, widened, when it may be handed to the
    // desktop's opener; empty when it is empty or not a safe web address.
    QString homepageToOpen;
    // Proceed: field 2 widened (empty: no box).
    QString notice;
    // Proceed: field 3 widened when it may be opened; empty otherwise.
    QString pageToOpen;
    // Proceed: field 4 widened (empty when the text lacks it).
    QString torrentAddress;
    // Proceed: field 5 byte for byte when the text has 6 or more fields.
    std::string webSeed;
};

// Decides what the start routine does with a configuration text. The text
// ends at its first NUL byte. Pure: reads nothing else, changes nothing.
ConfigurationDecision DecideConfiguration(std::string_view text);

// Whether a field may be handed to the desktop's opener: an http:// or
// https:// address (scheme in any case) shorter than 2048 UTF-16 characters.
// Plain text from the network must never open a local file or another scheme.
bool IsOpenableWebAddress(const QString& address);
