#pragma once

#include <windows.h>

// How long the browser's thread waits for one offer to the agent, all of it:
// resolving the ProgID, starting or reaching the agent, AddTask and Release.
// An agent that starts cold answers in about a second; the browser declares a
// tab hung after a few. Past the bound the offer counts as declined and the
// browser fetches the file itself; an agent that takes the URL later gives a
// second download.
constexpr DWORD kOfferBoundMs = 5000;
