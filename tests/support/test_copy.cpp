#include "tests/support/test_copy.h"

#include "common/win_handles.h"
#include "tools/support/process.h"

#include <cstdio>
#include <cstring>

const WindowsVersion kWindowsXp = {"winxp", 5, 1};
const WindowsVersion kWindowsServer2003 = {"win2003", 5, 2};
const WindowsVersion kWindowsVista = {"vista", 6, 0};
const WindowsVersion kWindows7 = {"win7", 6, 1};
// GetVersionExA reports 6.2 to a program whose manifest claims no later
// Windows, as Windows 8.1 and later do; Wine's "win10" does the same.
const WindowsVersion kWindows10 = {"win10", 6, 2};

namespace {

constexpr char kReportArgument[] = "--copy-report=";

std::string& ReportPath() {
    static std::string path;
    return path;
}

OSVERSIONINFOA Version() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);
    return version;
}

class ReportWriter : public testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest& unit) override {
        FILE* file = std::fopen(ReportPath().c_str(), "w");
        if (file == nullptr)
            return;
        std::fprintf(file, "%lu %lu %d %d %d\n", ReportedMajorVersion(), ReportedMinorVersion(),
                     unit.successful_test_count(), unit.failed_test_count(),
                     unit.skipped_test_count());
        std::fclose(file);
    }
};

std::string AppDefaultsKey(const std::string& exePath) {
    return "Software\\Wine\\AppDefaults\\" + exePath.substr(exePath.find_last_of('\\') + 1);
}

bool SetReportedVersion(const std::string& exePath, const WindowsVersion& version) {
    RegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, AppDefaultsKey(exePath).c_str(), 0, nullptr, 0,
                        KEY_WRITE, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.Get(), "Version", 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(version.wineName),
                          static_cast<DWORD>(std::strlen(version.wineName) + 1)) == ERROR_SUCCESS;
}

// Copies this executable to `exe`, runs the copy with `arguments`, deletes it
// and answers its exit code; -10 when the copy could not be made.
int RunSelfAs(const std::string& exe, const std::string& arguments) {
    if (!CopyFileA(SelfPath().c_str(), exe.c_str(), FALSE))
        return -10;
    const int result = RunProcess(exe, arguments);
    DeleteFileA(exe.c_str());
    return result;
}

}  // namespace

DWORD ReportedMajorVersion() {
    return Version().dwMajorVersion;
}

DWORD ReportedMinorVersion() {
    return Version().dwMinorVersion;
}

bool RunsAsCopy() {
    return !ReportPath().empty();
}

void TakeCopyReportArgument(int& argc, char** argv) {
    const size_t length = sizeof(kReportArgument) - 1;
    if (argc < 2 || std::strncmp(argv[1], kReportArgument, length) != 0)
        return;
    ReportPath() = argv[1] + length;
    for (int i = 1; i + 1 < argc; ++i)
        argv[i] = argv[i + 1];
    --argc;
}

void InstallCopyReport() {
    if (RunsAsCopy())
        testing::UnitTest::GetInstance()->listeners().Append(new ReportWriter());
}

CopyReport RunCasesInCopy(const std::string& exePath, const std::string& filter,
                          const WindowsVersion* version) {
    CopyReport report;
    if (version != nullptr && !SetReportedVersion(exePath, *version))
        return report;
    // Beside this executable: the copy's own folder may leave no room.
    const std::string reportPath = SelfPath() + ".copy-report";
    DeleteFileA(reportPath.c_str());
    report.exitCode = RunSelfAs(
        exePath, "\"" + std::string(kReportArgument) + reportPath + "\" --gtest_filter=" + filter);
    if (version != nullptr)
        RegDeleteKeyA(HKEY_CURRENT_USER, AppDefaultsKey(exePath).c_str());

    if (FILE* file = std::fopen(reportPath.c_str(), "r")) {
        unsigned long major = 0;
        unsigned long minor = 0;
        report.written = std::fscanf(file, "%lu %lu %d %d %d", &major, &minor, &report.passed,
                                     &report.failed, &report.skipped) == 5;
        report.major = major;
        report.minor = minor;
        std::fclose(file);
    }
    DeleteFileA(reportPath.c_str());
    return report;
}

CopyReport RunCasesAsWindows(const WindowsVersion& version, const std::string& exeName,
                             const std::string& filter) {
    const std::string self = SelfPath();
    return RunCasesInCopy(self.substr(0, self.find_last_of('\\') + 1) + exeName, filter, &version);
}

testing::AssertionResult CopyRanItsCases(const CopyReport& report, const WindowsVersion* version) {
    if (!report.written)
        return testing::AssertionFailure()
               << "the copy wrote no report (exit code " << report.exitCode << ")";
    if (version != nullptr && (report.major != version->major || report.minor != version->minor))
        return testing::AssertionFailure()
               << "the copy was told Windows " << report.major << "." << report.minor << ", not "
               << version->wineName << " (" << version->major << "." << version->minor << ")";
    if (report.passed == 0 || report.failed != 0 || report.skipped != 0 || report.exitCode != 0)
        return testing::AssertionFailure()
               << "the copy passed " << report.passed << ", failed " << report.failed
               << ", skipped " << report.skipped << " cases and exited " << report.exitCode;
    return testing::AssertionSuccess();
}
