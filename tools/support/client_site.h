#pragma once

#include <windows.h>
#include <unknwn.h>

// Gives the platform's WebBrowser control `control` the smallest client site
// it accepts: without one it neither navigates nor fires events. The control
// holds the site until it is given another or none.
HRESULT GiveClientSite(IUnknown* control);
