#pragma once

#include <windows.h>

#include <string>

// The registry form of a GUID ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper
// case, 38 characters) as StringFromIID gives it, in the ANSI code page.
// Answers false, leaving `text` empty, when the platform gives no string.
bool GuidToText(REFGUID guid, std::string& text) noexcept;
