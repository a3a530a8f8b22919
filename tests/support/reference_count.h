#pragma once

#include <unknwn.h>

// An object's reference count as its own AddRef and Release report it, the
// way a conformance test reads it: no accessor of the object is needed.
inline LONG ReferencesOf(IUnknown* object) {
    object->AddRef();
    return static_cast<LONG>(object->Release());
}
