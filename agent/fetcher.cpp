#include "agent/fetcher.h"

#include "agent/fetch_name.h"
#include "common/boundary.h"
#include "common/string_conversion.h"
#include "common/win_handles.h"

#include <wincrypt.h>
#include <wininet.h>

#include <vector>

// The headers name SHA-256 from XP SP3 on, whose provider brought it; the
// 32-bit build targets XP, so it names it here. Without that provider the
// fetch fails, saying so.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

namespace {

// A server that stops answering fails the fetch instead of holding it.
constexpr DWORD kNetworkTimeoutMs = 30000;
constexpr DWORD kChunkBytes = 64 * 1024;

// SHA-256 over the bytes as they arrive.
class Sha256 {
  public:
    Sha256() noexcept {
        if (CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES,
                                 CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
            !CryptCreateHash(provider_, CALG_SHA_256, 0, 0, &hash_))
            hash_ = 0;
    }
    ~Sha256() {
        if (hash_ != 0)
            CryptDestroyHash(hash_);
        if (provider_ != 0)
            CryptReleaseContext(provider_, 0);
    }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool Valid() const noexcept { return hash_ != 0; }
    bool Add(const BYTE* data, DWORD size) noexcept {
        return CryptHashData(hash_, data, size, 0) != FALSE;
    }
    std::string Hex() const {
        BYTE digest[32];
        DWORD size = sizeof(digest);
        if (!CryptGetHashParam(hash_, HP_HASHVAL, digest, &size, 0) || size != sizeof(digest))
            return "";
        static const char kHex[] = "0123456789abcdef";
        std::string hex;
        for (BYTE b : digest) {
            hex += kHex[b >> 4];
            hex += kHex[b & 0xF];
        }
        return hex;
    }

  private:
    HCRYPTPROV provider_ = 0;
    HCRYPTHASH hash_ = 0;
};

bool HasLineBreak(const std::wstring& text) {
    return text.find_first_of(L"\r\n") != std::wstring::npos;
}

// The request's own headers: exactly the cookie and referrer handed over.
std::wstring RequestHeaders(const FetchRequest& request) {
    std::wstring headers;
    if (!request.cookie.empty())
        headers += L"Cookie: " + request.cookie + L"\r\n";
    if (!request.referrer.empty())
        headers += L"Referer: " + request.referrer + L"\r\n";
    return headers;
}

bool QueryNumber(HINTERNET request, DWORD what, DWORD& number) {
    DWORD size = sizeof(number);
    return HttpQueryInfoW(request, what | HTTP_QUERY_FLAG_NUMBER, &number, &size, nullptr) != FALSE;
}

// A header's bytes as the server sent them: RFC 6266 names are ASCII, or
// UTF-8 in practice, which the platform's wide query would pass through the
// ANSI code page.
std::string QueryRawHeader(HINTERNET request, DWORD what) {
    DWORD size = 0;
    HttpQueryInfoA(request, what, nullptr, &size, nullptr);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return "";
    std::string text(size, '\0');
    if (!HttpQueryInfoA(request, what, &text[0], &size, nullptr))
        return "";
    text.resize(size);
    return text;
}

std::wstring FinalUrl(HINTERNET request, const std::wstring& fallback) {
    DWORD size = 0;
    InternetQueryOptionW(request, INTERNET_OPTION_URL, nullptr, &size);
    if (size == 0)
        return fallback;
    std::vector<wchar_t> url(size / sizeof(wchar_t) + 1, L'\0');
    if (!InternetQueryOptionW(request, INTERNET_OPTION_URL, url.data(), &size))
        return fallback;
    return url.data();
}

// `name` in `folder`, or "name (2).ext" and so on where that is taken.
std::wstring UnusedPath(const std::wstring& folder, const std::wstring& name,
                        std::wstring& chosen) {
    const size_t dot = name.find_last_of(L'.');
    const std::wstring stem = dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
    const std::wstring extension = stem.size() == name.size() ? L"" : name.substr(stem.size());
    chosen = name;
    for (int n = 2; GetFileAttributesW((folder + chosen).c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
        chosen = stem + L" (" + std::to_wstring(n) + L")" + extension;
    return folder + chosen;
}

std::string LastErrorText(const char* what) {
    return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")";
}

// The body into `part`, hashed on the way. Answers false with `detail` set.
bool ReceiveBody(HINTERNET request, HANDLE part, Sha256& hash, FetchResult& result) {
    std::vector<BYTE> chunk(kChunkBytes);
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, chunk.data(), kChunkBytes, &got)) {
            result.detail = LastErrorText("reading the body");
            return false;
        }
        if (got == 0)
            return true;
        DWORD written = 0;
        if (!WriteFile(part, chunk.data(), got, &written, nullptr) || written != got) {
            result.detail = LastErrorText("writing the file");
            return false;
        }
        if (!hash.Add(chunk.data(), got)) {
            result.detail = LastErrorText("hashing");
            return false;
        }
        result.bytes += got;
    }
}

FetchResult Fetch(const FetchRequest& request, const std::wstring& folder) {
    FetchResult result;
    if (HasLineBreak(request.cookie) || HasLineBreak(request.referrer)) {
        // It would end the header and start another of the sender's choosing.
        result.detail = "the cookie or the referrer holds a line break";
        return result;
    }
    InternetHandle session(
        InternetOpenW(L"CorvaneAgent/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (session.Get() == nullptr) {
        result.detail = LastErrorText("InternetOpen");
        return result;
    }
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                         INTERNET_OPTION_SEND_TIMEOUT}) {
        DWORD timeout = kNetworkTimeoutMs;
        InternetSetOptionW(session.Get(), option, &timeout, sizeof(timeout));
    }
    // No cookies of WinINet's own store: exactly the string handed over.
    const std::wstring headers = RequestHeaders(request);
    InternetHandle response(InternetOpenUrlW(
        session.Get(), request.url.c_str(), headers.empty() ? nullptr : headers.c_str(),
        static_cast<DWORD>(headers.size()),
        INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
            INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE,
        0));
    if (response.Get() == nullptr) {
        result.detail = LastErrorText("connecting");
        return result;
    }
    if (!QueryNumber(response.Get(), HTTP_QUERY_STATUS_CODE, result.httpStatus)) {
        result.detail = "no HTTP status";
        return result;
    }
    if (result.httpStatus < 200 || result.httpStatus > 299) {
        result.detail = "the server answered " + std::to_string(result.httpStatus);
        return result;
    }

    const std::wstring name = Utf8ToWide(
        ChooseFetchedFileName(QueryRawHeader(response.Get(), HTTP_QUERY_CONTENT_DISPOSITION),
                              WideToUtf8(FinalUrl(response.Get(), request.url))));
    const std::wstring partPath = folder + name + L".part";
    Sha256 hash;
    if (!hash.Valid()) {
        result.detail = LastErrorText("SHA-256");
        return result;
    }
    bool received = false;
    {
        FileHandle part(CreateFileW(partPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!part.Valid()) {
            result.detail = LastErrorText("creating the file");
            return result;
        }
        received = ReceiveBody(response.Get(), part.Get(), hash, result);
    }
    DWORD expected = 0;
    if (received && QueryNumber(response.Get(), HTTP_QUERY_CONTENT_LENGTH, expected) &&
        result.bytes != expected) {
        received = false;
        result.detail = "the body ended after " + std::to_string(result.bytes) + " of " +
                        std::to_string(expected) + " bytes";
    }
    std::wstring chosen;
    if (!received || !MoveFileW(partPath.c_str(), UnusedPath(folder, name, chosen).c_str())) {
        if (received)
            result.detail = LastErrorText("naming the file");
        DeleteFileW(partPath.c_str());
        return result;
    }
    result.sha256 = hash.Hex();
    result.fileName = chosen;
    result.done = true;
    return result;
}

}  // namespace

FetchResult FetchIntoFolder(const FetchRequest& request, const std::wstring& folder) noexcept {
    FetchResult failed;
    failed.detail = "out of memory";
    return GuardBoundary(failed, [&] { return Fetch(request, folder); });
}
