#pragma once

// The host is where a page's text stops: what reaches the download agent is
// not ours to check again. The address, cookie and referrer are the request
// the agent repeats, so a control character in them (a line break would
// split a header) makes the message bad; the link's text is only shown, so
// it loses what could hide or reorder other text and keeps everything else.

#include <cstddef>
#include <string>

// Whether `utf8` holds a C0 control (U+0000 to U+001F) or DEL.
bool HasControlCharacter(const std::string& utf8) noexcept;

// `utf8` (well-formed) without C0 controls, DEL, the bidirectional embeddings
// and overrides (U+202A to U+202E) and isolates (U+2066 to U+2069); every
// other character, exactly.
std::string ShownText(const std::string& utf8);

// The JSON text `body` with every escaped surrogate that is not half of a
// pair ("\ud800" alone) written as the escape `replacement` (six characters,
// "\u...."); `replaced` gets how many there were. Firefox writes one when a
// string was cut between the halves of a pair, and JSON parsers refuse it.
// Nothing else changes: an escape outside a string leaves the text as wrong.
std::string WithLoneSurrogatesAs(const std::string& body, const char (&replacement)[7],
                                 std::size_t& replaced);
