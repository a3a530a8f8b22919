#pragma once

#include <unknwn.h>

// The agent's class object, one for the process; it does not count towards
// the server's lifetime (only objects and locks do).
IUnknown* AgentClassFactory() noexcept;
