#pragma once

#include <windows.h>

#include <map>
#include <string>

// Redirects HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER of
// this process into fresh, empty scratch keys for the sandbox's lifetime, so
// that a registration test writes nothing real and sees nothing another test
// left. Access flags KEY_WOW64_* bypass the redirection of HKCR under Wine:
// code under test must not use them.
class RegistrySandbox {
  public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    bool Ready() const { return ready_; }
    // The scratch keys behind the three redirected roots.
    HKEY ClassesRoot() const { return keys_[0]; }
    HKEY LocalMachine() const { return keys_[1]; }
    HKEY CurrentUser() const { return keys_[2]; }

  private:
    std::string base_;
    HKEY keys_[3] = {};
    bool ready_ = false;
};

// Every key and value below a root, one entry each, ordered by path:
//   "HKCR\CLSID\{...}"                     -> "key"
//   "HKCR\CLSID\{...}\InprocServer32 |ThreadingModel" -> "REG_SZ 10 Apartment\0"
// A default value is named "@". A value's data is shown byte for byte, a zero
// byte as "\0", so its text and its byte count can both be compared.
using RegistryListing = std::map<std::string, std::string>;

void AddListing(HKEY root, const std::string& label, RegistryListing& listing);

// The three redirected roots, labelled HKCR, HKLM and HKCU.
RegistryListing ListSandbox(const RegistrySandbox& sandbox);

// The entry text for a value as AddListing writes it.
std::string ValueEntry(DWORD type, const std::string& bytes);

// Lines only in `expected` ("missing") or only in `actual` ("extra"), or
// differing; empty when both are equal.
std::string DescribeDifference(const RegistryListing& expected, const RegistryListing& actual);

// Writes a value below `root`, creating the key; false on failure.
bool PutValue(HKEY root, const char* key, const char* name, DWORD type, const std::string& bytes);
bool PutString(HKEY root, const char* key, const char* name, const std::string& text);
bool KeyExists(HKEY root, const char* key);

// A handle to a key made below `parent` and deleted while open: every
// operation through it fails, so a root redirected to it cannot be written.
// Nothing of it stays below `parent`. The caller closes it.
HKEY OpenDeletedKey(HKEY parent);
