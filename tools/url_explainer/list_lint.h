#pragma once

// Mistakes in an "ExtendNames" value that keep entries from ever matching,
// judged by the rules MatchesExtension applies, and for a candidate the list
// refused, the entry that would have taken it but for one of them. The
// installation check and the URL explainer report them; the library itself
// searches the list as it stands.

#include <cstddef>
#include <string>
#include <vector>

struct ListMistake {
    enum Kind {
        kEmpty,               // no entry at all: only corvane:// links are taken
        kUpperCase,           // candidates are lower-cased: never matches
        kNoLeadingDot,        // candidates begin with their dot
        kNoClosingSemicolon,  // the last entry: candidates are looked up with ";"
        kSpace,               // a candidate never holds one
        kRepeated,            // harmless, but one of the two is dead
        kTooLong,             // no candidate that long is looked up
        kPastReadLimit,       // ends past what is read (kExtensionListBufferSize - 1)
    };
    Kind kind;
    // The entry as written, without its ";" (empty for kEmpty).
    std::string entry;
    // The entry as it would match, with its ";": lower case, a leading dot,
    // no spaces.
    std::string suggestion;
};

// Every mistake of `value`, entry by entry in the order written.
std::vector<ListMistake> LintExtensionList(const std::string& value);

// For `candidate` (lower-cased, with its ";", as ExplainExtension gives it)
// not found in `list`: the first entry that would have taken it but for its
// capitals, its missing closing ";", or both.
struct NearMiss {
    bool found = false;
    bool capitals = false;
    bool missingSemicolon = false;
    std::string entry;  // as written, without a ";"
};

NearMiss FindNearMiss(const std::string& candidate, const std::string& list);
