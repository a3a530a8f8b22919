#pragma once

#include "tools/support/event_args.h"

#include <gtest/gtest.h>

#include <memory>

// Fires the event at `sink` as the browser does, expects S_OK, and answers the
// Cancel value the handler left. Takes over `args`.
inline VARIANT_BOOL FireAt(IDispatch* sink, DISPID id, BrowserEventArgs* args) {
    std::unique_ptr<BrowserEventArgs> owned(args);
    EXPECT_EQ(S_OK, sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, args->Params(), nullptr, nullptr,
                                 nullptr));
    return args->cancel;
}
