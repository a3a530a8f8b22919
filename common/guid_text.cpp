#include "common/guid_text.h"

#include "common/boundary.h"
#include "common/string_conversion.h"
#include "common/win_handles.h"

#include <objbase.h>

bool GuidToText(REFGUID guid, std::string& text) noexcept {
    text.clear();
    const bool made = GuardBoundary(false, [&] {
        CoTaskMem<OLECHAR> wide;
        if (FAILED(StringFromIID(guid, wide.Receive())) || wide.Get() == nullptr)
            return false;
        text = WideToUtf8(wide.Get());
        return !text.empty();
    });
    if (!made)
        text.clear();
    return made;
}
