#pragma once

#include <string>

// Who put the DLL in place decides what puts it back: the release archive's
// install.cmd, or a Windows Installer package, which repairs its own files
// and registration.
enum class InstallationKind { kArchive, kPackage };

// The fix, without its closing period, that registers the DLL again.
std::string RegisterAgainFix(InstallationKind kind);

// A package's when its installed-programs entry or its Active Setup entry of
// either DLL is in the registry; the archive's otherwise.
InstallationKind FindInstallationKind();
// RegisterAgainFix of the installation found here, with its closing period.
std::string RegisterFixHere();
