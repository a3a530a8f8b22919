#pragma once

// The agent's COM registration under HKEY_CLASSES_ROOT:
//   CorvaneServer.WebCorvane.1            = Corvane download agent
//   CorvaneServer.WebCorvane.1\CLSID      = {class}
//   CLSID\{class}                         = Corvane download agent
//   CLSID\{class}\LocalServer32           = "<path of this executable>"
//   CLSID\{class}\ProgID                  = CorvaneServer.WebCorvane.1
// and the type library embedded in the executable, whose registration makes
// the automation marshaler carry IDownloadAgent between processes.

constexpr wchar_t kAgentProgId[] = L"CorvaneServer.WebCorvane.1";

// Writes everything; on failure removes what it wrote and raises HResultError.
void RegisterAgent();

// Removes everything; what is already absent is no failure. Raises
// HResultError.
void UnregisterAgent();
