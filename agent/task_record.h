#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

struct FetchResult;

// The record file: one line per AddTask call, appended, in UTF-8. A line holds
// eight fields separated by tabs:
//   url, comment, referrer, flags, cookie, reserved, accepted, answer
// The string fields carry the BSTRs exactly: a null BSTR is written as \N, a
// zero-length one as nothing; inside a string a backslash is \\, a tab \t, a
// line feed \n, a carriage return \r, and every other control character
// (U+0000 to U+001F, U+007F to U+009F) or unpaired surrogate is \uXXXX with
// four upper-case hexadecimal digits, so that any URL survives the trip.
// flags is the decimal integer; accepted is the decimal value that *accepted
// held on entry, or \N for a null pointer; answer is the "Answer" setting that
// was in force, escaped like the strings.
struct TaskCall {
    BSTR url = nullptr;
    BSTR comment = nullptr;
    BSTR referrer = nullptr;
    LONG flags = 0;
    BSTR cookie = nullptr;
    BSTR reserved = nullptr;
    const LONG* accepted = nullptr;
    std::wstring answer;
};

// The field for a string of `length` characters; null gives \N.
std::wstring EscapeRecordField(const wchar_t* text, size_t length);

// The call's line, newline included. Raises HResultError when the UTF-8
// conversion fails.
std::string FormatTaskRecord(const TaskCall& call);

// Appends the line to the file, creating it when needed. Answers false when the
// file cannot be opened or fully written.
bool AppendTaskRecord(const std::wstring& path, const std::string& line) noexcept;

// The fetch record (kFetchRecordFileName in the fetch folder): one line per
// fetch, in UTF-8, seven fields separated by tabs, strings escaped as above:
//   url, outcome ("done" or "failed"), HTTP status, bytes, sha256, file name, detail
std::string FormatFetchRecord(const std::wstring& url, const FetchResult& result);
