// The Maxthon plug-in against a redirected HKEY_CURRENT_USER and a scratch
// Maxthon folder.
#include "common/string_conversion.h"
#include "server/maxthon_plugin.h"

#include "tests/support/registry_sandbox.h"
#include "tests/support/scratch_dir.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

// "Plugin.ini" byte for byte: nine lines, the last without a line end.
const char kPluginIni[] =
    "[General]\r\n"
    "Name=WebCorvane Maxthon Extension\r\n"
    "Author=Vantor\r\n"
    "Version=1.0\r\n"
    "ModuleType=COM\r\n"
    "FileName=WebCorvaneBHO.dll\r\n"
    "Comments=WebCorvane Download Manager\r\n"
    "Type=M2Plugin_Other\r\n"
    "CLSID={00000AAA-A363-466E-BEF5-9BB68697AA7F}";
static_assert(sizeof(kPluginIni) - 1 == 221, "Plugin.ini is 221 bytes");

// Every file and folder below `root` with the content of each file.
void ListTree(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((root + relative + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        const std::string path = relative + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(path + "\\");
            ListTree(root, path, out);
        } else {
            std::string bytes;
            ReadFileBytes(root + path, bytes);
            out.push_back(path + " = " + bytes);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::vector<std::string> Tree(const std::string& root) {
    std::vector<std::string> out;
    ListTree(root, "", out);
    return out;
}

std::string Contents(const std::string& path) {
    std::string bytes;
    return ReadFileBytes(path, bytes) ? bytes : "<unreadable>";
}

// A Maxthon folder with its "Plugin" folder, named by HKCU\Software\Maxthon.
class MaxthonPlugin : public testing::Test {
  public:
    void SetUp() override {
        ASSERT_TRUE(sandbox_.Ready());
        ASSERT_TRUE(CreateDirectoryA(PluginRoot().c_str(), nullptr));
        ASSERT_TRUE(PutString(HKEY_CURRENT_USER, "Software\\Maxthon", "Folder", maxthon_.Path()));
    }
    std::string PluginRoot() const { return maxthon_.Sub("Plugin"); }
    std::string PluginFolder() const { return maxthon_.Sub("Plugin\\WebCorvane"); }
    std::string PluginFile() const { return maxthon_.Sub("Plugin\\WebCorvane\\Plugin.ini"); }

    RegistrySandbox sandbox_;
    ScratchDir maxthon_{"webcorvane-maxthon"};
};

}  // namespace

TEST(BuildPluginIni, IsTheExactFileContent) {
    EXPECT_EQ(kPluginIni, BuildPluginIni("{00000AAA-A363-466E-BEF5-9BB68697AA7F}"));
}

TEST(MaxthonFolderUsable, NeedsATerminatorAndRoomForTheAppendedParts) {
    EXPECT_EQ(230u, MaxthonFolderMaxLength());
    const std::wstring longest(230, L'a');
    const std::wstring tooLong(231, L'a');
    struct Case {
        const char* name;
        std::wstring data;
        bool usable;
    } const cases[] = {
        {"ordinary", std::wstring(L"C:\\Maxthon\0", 11), true},
        {"empty text", std::wstring(L"\0", 1), true},
        {"230 characters", longest + L'\0', true},
        {"231 characters", tooLong + L'\0', false},
        {"no terminator", L"C:\\Maxthon", false},
        {"no bytes", L"", false},
        {"terminator before the end", std::wstring(L"C:\\M\0xx", 7), true},
        {"260 characters without terminator", std::wstring(260, L'a'), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.usable, MaxthonFolderUsable(
                                c.data.data(), static_cast<DWORD>(c.data.size() * sizeof(wchar_t))))
            << c.name;
    }
}

TEST(PathExists, AnswersForTheKindAsked) {
    ScratchDir dir("webcorvane-exists");
    ASSERT_TRUE(WriteFileBytes(dir.Sub("file"), "x"));
    struct Case {
        std::string path;
        int wantDirectory;
        bool exists;
    } const cases[] = {
        {dir.Path(), 1, true},       {dir.Path(), 0, false},         {dir.Sub("file"), 0, true},
        {dir.Sub("file"), 1, false}, {dir.Sub("missing"), 0, false}, {dir.Sub("missing"), 1, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.exists, PathExists(Utf8ToWide(c.path), c.wantDirectory)) << c.path;
}

TEST(WriteWholeFile, FailsWhenTheWriteFails) {
    ScratchDir dir("webcorvane-write");
    const std::string path = dir.Sub("out");
    ASSERT_TRUE(WriteFileBytes(path, ""));
    HANDLE readOnly =
        CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, readOnly);
    EXPECT_FALSE(WriteWholeFile(readOnly, kPluginIni));
    CloseHandle(readOnly);

    HANDLE writable =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writable);
    EXPECT_TRUE(WriteWholeFile(writable, kPluginIni));
    CloseHandle(writable);
    EXPECT_EQ(kPluginIni, Contents(path));
}

TEST(WriteWholeFile, FailsWhenOnlyPartOfTheTextWasWritten) {
    // A non-blocking byte pipe whose buffer is full takes what fits and
    // answers success with fewer bytes written.
    char name[64];
    wsprintfA(name, "\\\\.\\pipe\\webcorvane-partial-%lu", GetCurrentProcessId());
    HANDLE server = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 0,
                                     64, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    HANDLE client = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, client);
    DWORD mode = PIPE_NOWAIT;
    ASSERT_TRUE(SetNamedPipeHandleState(client, &mode, nullptr, nullptr));
    // The platform's answer that the check must not take for a whole write.
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(client, kPluginIni, 221, &written, nullptr));
    ASSERT_LT(written, 221u);
    EXPECT_FALSE(WriteWholeFile(client, kPluginIni));
    CloseHandle(client);
    CloseHandle(server);
}

TEST_F(MaxthonPlugin, InstallsTheExactFileAndRemovesIt) {
    EXPECT_EQ(1, RegisterMaxthonPlugin(1));
    EXPECT_EQ(std::vector<std::string>(
                  {"\\WebCorvane\\", std::string("\\WebCorvane\\Plugin.ini = ") + kPluginIni}),
              Tree(PluginRoot()));

    EXPECT_EQ(1, RegisterMaxthonPlugin(0));
    EXPECT_TRUE(Tree(PluginRoot()).empty());
    EXPECT_TRUE(PathExists(Utf8ToWide(PluginRoot()), 1));
}

TEST_F(MaxthonPlugin, InstallingAgainWritesTheFileAnew) {
    ASSERT_EQ(1, RegisterMaxthonPlugin(1));
    ASSERT_TRUE(WriteFileBytes(PluginFile(), "an older version of the file"));
    ASSERT_TRUE(WriteFileBytes(PluginFolder() + "\\other.txt", "kept"));
    EXPECT_EQ(1, RegisterMaxthonPlugin(1));
    EXPECT_EQ(kPluginIni, Contents(PluginFile()));
    EXPECT_EQ("kept", Contents(PluginFolder() + "\\other.txt"));
}

TEST_F(MaxthonPlugin, InstallingFailsWhereTheFolderOrFileCannotBeMade) {
    struct Case {
        const char* name;
        void (*prepare)(const MaxthonPlugin& t);
    } const cases[] = {
        {"WebCorvane is a file",
         [](const MaxthonPlugin& t) { WriteFileBytes(t.PluginFolder(), "a file"); }},
        {"Plugin.ini is a directory",
         [](const MaxthonPlugin& t) {
             CreateDirectoryA(t.PluginFolder().c_str(), nullptr);
             CreateDirectoryA(t.PluginFile().c_str(), nullptr);
         }},
        {"Plugin.ini is read-only",
         [](const MaxthonPlugin& t) {
             CreateDirectoryA(t.PluginFolder().c_str(), nullptr);
             WriteFileBytes(t.PluginFile(), "old");
             SetFileAttributesA(t.PluginFile().c_str(), FILE_ATTRIBUTE_READONLY);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(PluginFolder());
        c.prepare(*this);
        const std::vector<std::string> before = Tree(PluginRoot());
        EXPECT_EQ(0, RegisterMaxthonPlugin(1));
        EXPECT_EQ(before, Tree(PluginRoot()));
    }
    RemoveTree(PluginFolder());
}

TEST_F(MaxthonPlugin, RemovingKeepsAFolderThatHoldsOtherFiles) {
    ASSERT_EQ(1, RegisterMaxthonPlugin(1));
    ASSERT_TRUE(WriteFileBytes(PluginFolder() + "\\settings.dat", "user data"));
    EXPECT_EQ(0, RegisterMaxthonPlugin(0));
    EXPECT_EQ(
        std::vector<std::string>({"\\WebCorvane\\", "\\WebCorvane\\settings.dat = user data"}),
        Tree(PluginRoot()));
}

TEST_F(MaxthonPlugin, RemovingWithoutThePluginFolderChangesNothing) {
    ASSERT_TRUE(WriteFileBytes(PluginRoot() + "\\Other.ini", "another plug-in"));
    EXPECT_EQ(1, RegisterMaxthonPlugin(0));
    EXPECT_EQ(std::vector<std::string>({"\\Other.ini = another plug-in"}), Tree(PluginRoot()));
}

TEST_F(MaxthonPlugin, RemovingAFolderWithoutPluginIniRemovesIt) {
    ASSERT_TRUE(CreateDirectoryA(PluginFolder().c_str(), nullptr));
    EXPECT_EQ(1, RegisterMaxthonPlugin(0));
    EXPECT_FALSE(PathExists(Utf8ToWide(PluginFolder()), 1));
}

TEST_F(MaxthonPlugin, WithoutAUsableMaxthonFolderNothingOnDiskChanges) {
    const std::string tooLong = std::string(231, 'x');
    struct Case {
        const char* name;
        bool (*prepare)(const MaxthonPlugin& t);
    } const cases[] = {
        {"no Software\\Maxthon key",
         [](const MaxthonPlugin&) {
             return SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Maxthon") == ERROR_SUCCESS;
         }},
        {"no Folder value",
         [](const MaxthonPlugin&) {
             return SHDeleteValueA(HKEY_CURRENT_USER, "Software\\Maxthon", "Folder") ==
                    ERROR_SUCCESS;
         }},
        {"no Plugin folder",
         [](const MaxthonPlugin& t) {
             return PutString(HKEY_CURRENT_USER, "Software\\Maxthon", "Folder", t.PluginFolder());
         }},
        {"Folder without terminator",
         [](const MaxthonPlugin& t) {
             return PutValue(HKEY_CURRENT_USER, "Software\\Maxthon", "Folder", REG_BINARY,
                             t.maxthon_.Path());
         }},
        {"Folder longer than 260 bytes",
         [](const MaxthonPlugin& t) {
             return PutString(HKEY_CURRENT_USER, "Software\\Maxthon", "Folder",
                              t.maxthon_.Path() + std::string(300, '\\'));
         }},
    };
    for (const Case& c : cases) {
        for (int install : {1, 0}) {
            SCOPED_TRACE(std::string(c.name) + (install ? ", installing" : ", removing"));
            ASSERT_TRUE(
                PutString(HKEY_CURRENT_USER, "Software\\Maxthon", "Folder", maxthon_.Path()));
            ASSERT_TRUE(c.prepare(*this));
            // Something to remove, were the folder found.
            RemoveTree(PluginFolder());
            if (!install) {
                ASSERT_TRUE(CreateDirectoryA(PluginFolder().c_str(), nullptr));
            }
            const std::vector<std::string> before = Tree(maxthon_.Path());
            EXPECT_EQ(0, RegisterMaxthonPlugin(install));
            EXPECT_EQ(before, Tree(maxthon_.Path()));
        }
    }
}

TEST_F(MaxthonPlugin, AFolderOfTheLongestUsableLengthWorksAndOneMoreIsRefused) {
    // Maxthon folders of exactly 230 and 231 characters, each with "Plugin".
    std::string longest = maxthon_.Path();
    while (longest.size() < 230) {
        const size_t part = std::min<size_t>(100, 230 - longest.size() - 1);
        if (part == 0) {
            longest += "y";
            break;
        }
        longest += "\\" + std::string(part, 'y');
        CreateDirectoryA(longest.c_str(), nullptr);
    }
    const std::string tooLong = longest + "z";
    ASSERT_EQ(230u, longest.size());
    ASSERT_TRUE(CreateDirectoryA(longest.c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryA((longest + "\\Plugin").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(tooLong.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((tooLong + "\\Plugin").c_str(), nullptr));

    ASSERT_TRUE(PutString(HKEY_CURRENT_USER, "Software\\Maxthon", "Folder", longest));
    EXPECT_EQ(1, RegisterMaxthonPlugin(1));
    EXPECT_EQ(kPluginIni, Contents(longest + "\\Plugin\\WebCorvane\\Plugin.ini"));
    EXPECT_EQ(1, RegisterMaxthonPlugin(0));
    EXPECT_FALSE(PathExists(Utf8ToWide((longest + "\\Plugin\\WebCorvane")), 1));

    ASSERT_TRUE(PutString(HKEY_CURRENT_USER, "Software\\Maxthon", "Folder", tooLong));
    EXPECT_EQ(0, RegisterMaxthonPlugin(1));
    EXPECT_TRUE(Tree(tooLong + "\\Plugin").empty());
}
