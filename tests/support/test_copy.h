#pragma once

// Part of a test executable can run in a copy of it: under another name (a
// Maxthon host), or with another Windows version, which Wine reports to one
// program as its per-program AppDefaults say. The copy writes a report of
// what it saw and ran; the parent holds the report to what the copy was for,
// so that a copy whose setting did not take, or that ran nothing, fails.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

struct WindowsVersion {
    const char* wineName;  // the AppDefaults "Version"
    DWORD major;
    DWORD minor;
};

extern const WindowsVersion kWindowsXp;
extern const WindowsVersion kWindowsServer2003;
extern const WindowsVersion kWindowsVista;
extern const WindowsVersion kWindows7;
extern const WindowsVersion kWindows10;

// What a copy reported of itself.
struct CopyReport {
    int exitCode = -1;
    bool written = false;
    DWORD major = 0;  // the version the system reported to the copy
    DWORD minor = 0;
    int passed = 0;
    int failed = 0;
    int skipped = 0;
};

// Runs the cases `filter` selects in a copy of this executable at `exePath`
// (its folder must exist), with Wine reporting `version` to it when one is
// given; deletes the copy and answers its report.
CopyReport RunCasesInCopy(const std::string& exePath, const std::string& filter,
                          const WindowsVersion* version = nullptr);

// The same, with the copy beside this executable under `exeName`.
CopyReport RunCasesAsWindows(const WindowsVersion& version, const std::string& exeName,
                             const std::string& filter);

// Success when the copy exited 0 after passing at least one case and failing
// or skipping none, and, given a version, was told that version.
testing::AssertionResult CopyRanItsCases(const CopyReport& report,
                                         const WindowsVersion* version = nullptr);

// Whether this process is such a copy. Cases meant only for a copy skip
// elsewhere, and never in a copy.
bool RunsAsCopy();

// The version the system reports to this process.
DWORD ReportedMajorVersion();
DWORD ReportedMinorVersion();

// For the entry point: takes a leading "--copy-report=PATH" from the command
// line and, when there was one, has the report written at the end of the run.
void TakeCopyReportArgument(int& argc, char** argv);
void InstallCopyReport();
