#include "common/guid_text.h"

#include "common/string_conversion.h"
#include "common/win_handles.h"

#include <objbase.h>

bool GuidToText(REFGUID guid, std::string& text) noexcept {
    text.clear();
    try {
        CoTaskMem<OLECHAR> wide;
        if (FAILED(StringFromIID(guid, wide.Receive())) || wide.Get() == nullptr)
            return false;
        text = WideToNarrow(wide.Get());
        return !text.empty();
    } catch (...) {
        text.clear();
        return false;
    }
}
