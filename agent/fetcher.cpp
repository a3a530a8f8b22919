#include "agent/fetcher.h"

#include "agent/fetch_name.h"
#include "common/boundary.h"
#include "common/string_conversion.h"
#include "common/win_handles.h"

#include <wincrypt.h>
#include <wininet.h>

#include <cstdlib>
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
// As many as browsers follow.
constexpr int kMaxRedirects = 20;

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

// One request's own headers: the cookie and the referrer, when it has them.
std::wstring RequestHeaders(const std::wstring& cookie, const std::wstring& referrer) {
    std::wstring headers;
    if (!cookie.empty())
        headers += L"Cookie: " + cookie + L"\r\n";
    if (!referrer.empty())
        headers += L"Referer: " + referrer + L"\r\n";
    return headers;
}

// What a redirect is judged by: the scheme and host in lower case, the port.
struct Origin {
    bool valid = false;
    std::wstring scheme;
    std::wstring host;
    INTERNET_PORT port = 0;

    bool operator==(const Origin& other) const {
        return valid && other.valid && scheme == other.scheme && host == other.host &&
               port == other.port;
    }
    bool Secure() const { return scheme == L"https"; }
    // "https://host/", or with ":port" where it is not the scheme's own.
    std::wstring Text() const {
        const INTERNET_PORT standard =
            Secure() ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
        return scheme + L"://" + host + (port == standard ? L"" : L":" + std::to_wstring(port)) +
               L"/";
    }
};

std::wstring LowerAscii(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return text;
}

Origin OriginOf(const std::wstring& url) {
    wchar_t scheme[16] = {}, host[INTERNET_MAX_HOST_NAME_LENGTH] = {};
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszScheme = scheme;
    parts.dwSchemeLength = ARRAYSIZE(scheme);
    parts.lpszHostName = host;
    parts.dwHostNameLength = ARRAYSIZE(host);
    Origin origin;
    if (!InternetCrackUrlW(url.c_str(), 0, 0, &parts) || host[0] == L'\0')
        return origin;
    origin.scheme = LowerAscii(scheme);
    origin.valid = origin.scheme == L"http" || origin.scheme == L"https";
    origin.host = LowerAscii(host);
    origin.port = parts.nPort;
    return origin;
}

// A redirect leads where the browser was never asked to send the cookie:
// it goes only to the host it was handed for (its port aside, as cookies
// go), and never from https down to http, since the Secure ones among its
// cookies cannot be told apart.
bool CookieGoesTo(const Origin& handed, const Origin& hop) {
    return handed.valid && hop.valid && handed.host == hop.host &&
           !(handed.Secure() && !hop.Secure());
}

// The Referer a browser sends after a redirect: the page's still, as the
// default policy (strict-origin-when-cross-origin) judges it against the new
// URL. Whole to a hop of the referrer's own origin, only its origin to
// another, none from https to http. What was handed over may already be just
// the origin: it never grows.
std::wstring RefererFor(const std::wstring& referrer, const Origin& hop) {
    const Origin page = OriginOf(referrer);
    if (referrer.empty() || !page.valid || !hop.valid || (page.Secure() && !hop.Secure()))
        return L"";
    return page == hop ? referrer : page.Text();
}

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
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

// Content-Length as sent, in 64 bits: the platform's number query holds 32.
bool QueryContentLength(HINTERNET request, unsigned long long& length) {
    const std::string text = QueryRawHeader(request, HTTP_QUERY_CONTENT_LENGTH);
    // Nineteen digits always fit.
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    length = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

// Where a redirect's Location leads from `base`. Bytes outside ASCII are
// percent-encoded, as a browser's URL parser does; empty when it leads
// nowhere a browser would follow.
std::wstring RedirectTarget(const std::wstring& base, const std::string& location) {
    static const char kHex[] = "0123456789ABCDEF";
    std::wstring relative;
    for (char c : location) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7F) {
            relative += static_cast<wchar_t>(byte);
        } else {
            relative += L'%';
            relative += static_cast<wchar_t>(kHex[byte >> 4]);
            relative += static_cast<wchar_t>(kHex[byte & 0xF]);
        }
    }
    if (relative.empty())
        return L"";
    std::vector<wchar_t> target(INTERNET_MAX_URL_LENGTH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD size = static_cast<DWORD>(target.size());
        if (InternetCombineUrlW(base.c_str(), relative.c_str(), target.data(), &size,
                                ICU_NO_ENCODE))
            return OriginOf(target.data()).valid ? std::wstring(target.data()) : L"";
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return L"";
        target.assign(size + 1, L'\0');
    }
    return L"";
}

// Moves `from` to `name` in `folder`, or to "name (2).ext" and so on where
// that is taken, also by a fetch that ends at the same moment: a move never
// replaces a file.
bool MoveToUnusedName(const std::wstring& from, const std::wstring& folder,
                      const std::wstring& name, std::wstring& chosen) {
    const size_t dot = name.find_last_of(L'.');
    const std::wstring stem = dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
    const std::wstring extension = stem.size() == name.size() ? L"" : name.substr(stem.size());
    chosen = name;
    for (int n = 2; n < 10000; ++n) {
        if (MoveFileW(from.c_str(), (folder + chosen).c_str()))
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return false;
        chosen = stem + L" (" + std::to_wstring(n) + L")" + extension;
    }
    return false;
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
    // Redirects are followed here, not by WinINet, which would carry the
    // cookie and the referrer to wherever they lead; and no cookies of
    // WinINet's own store: exactly the string handed over.
    const Origin handed = OriginOf(request.url);
    std::wstring url = request.url;
    InternetHandle response;
    for (int redirects = 0;; ++redirects) {
        const Origin hop = OriginOf(url);
        const std::wstring headers =
            redirects == 0 ? RequestHeaders(request.cookie, request.referrer)
                           : RequestHeaders(CookieGoesTo(handed, hop) ? request.cookie : L"",
                                            RefererFor(request.referrer, hop));
        response.Reset(InternetOpenUrlW(
            session.Get(), url.c_str(), headers.empty() ? nullptr : headers.c_str(),
            static_cast<DWORD>(headers.size()),
            INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT,
            0));
        if (response.Get() == nullptr) {
            result.detail = LastErrorText("connecting");
            return result;
        }
        if (!QueryNumber(response.Get(), HTTP_QUERY_STATUS_CODE, result.httpStatus)) {
            result.detail = "no HTTP status";
            return result;
        }
        if (!IsRedirect(result.httpStatus))
            break;
        if (redirects == kMaxRedirects) {
            result.detail = "more than " + std::to_string(kMaxRedirects) + " redirects";
            return result;
        }
        url = RedirectTarget(url, QueryRawHeader(response.Get(), HTTP_QUERY_LOCATION));
        if (url.empty()) {
            result.detail =
                "a redirect (" + std::to_string(result.httpStatus) + ") to no http or https URL";
            return result;
        }
    }
    if (result.httpStatus < 200 || result.httpStatus > 299) {
        result.detail = "the server answered " + std::to_string(result.httpStatus);
        return result;
    }

    const std::wstring name = Utf8ToWide(ChooseFetchedFileName(
        QueryRawHeader(response.Get(), HTTP_QUERY_CONTENT_DISPOSITION), WideToUtf8(url)));
    Sha256 hash;
    if (!hash.Valid()) {
        result.detail = LastErrorText("SHA-256");
        return result;
    }
    // A file of this fetch's own until it is complete: another fetch of the
    // same name, at the same time, writes a file of its own.
    wchar_t partPath[MAX_PATH] = {};
    if (!GetTempFileNameW(folder.c_str(), L"cva", 0, partPath)) {
        result.detail = LastErrorText("creating the file");
        return result;
    }
    bool received = false;
    {
        FileHandle part(CreateFileW(partPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!part.Valid()) {
            result.detail = LastErrorText("creating the file");
            DeleteFileW(partPath);
            return result;
        }
        received = ReceiveBody(response.Get(), part.Get(), hash, result);
    }
    unsigned long long expected = 0;
    if (received && QueryContentLength(response.Get(), expected) && result.bytes != expected) {
        received = false;
        result.detail = "the body ended after " + std::to_string(result.bytes) + " of " +
                        std::to_string(expected) + " bytes";
    }
    std::wstring chosen;
    if (!received || !MoveToUnusedName(partPath, folder, name, chosen)) {
        if (received)
            result.detail = LastErrorText("naming the file");
        DeleteFileW(partPath);
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
