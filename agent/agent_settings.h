#pragma once

#include <string>

// The agent's settings live in HKCU\Software\Corvane\ReferenceAgent and are
// read afresh at every call, so that whoever drives the agent can change its
// behaviour while it runs. Not the environment: a server that COM starts does
// not inherit its client's environment on Windows.
constexpr wchar_t kSettingsKey[] = L"Software\\Corvane\\ReferenceAgent";
constexpr wchar_t kAnswerValue[] = L"Answer";
constexpr wchar_t kRecordFileValue[] = L"RecordFile";
constexpr wchar_t kStartValue[] = L"Start";
constexpr wchar_t kDefaultRecordFileName[] = L"CorvaneAgent.log";
constexpr wchar_t kFetchFolderValue[] = L"FetchFolder";
constexpr wchar_t kFetchRecordFileName[] = L"CorvaneFetches.log";

// "Answer" (REG_SZ; see answer.h). kDefaultAnswer when absent; a value of
// another type reads as the empty string, which is no valid answer.
std::wstring ReadAnswerSetting();

// "RecordFile" (REG_SZ): the record file's path. When absent or empty, the
// file CorvaneAgent.log beside the agent's executable.
std::wstring ReadRecordFileSetting();

// "FetchFolder" (REG_SZ): when set, every task the agent takes is fetched
// into that folder, and each fetch is recorded there in CorvaneFetches.log.
// Answers the folder with a trailing backslash, or empty: fetch nothing.
std::wstring ReadFetchFolderSetting();

// "Start" (REG_SZ), read once as COM starts the agent: absent or empty, the
// agent serves its class; "silent:<ms>" makes it a program that never
// registers its class object and ends after <ms> milliseconds, as a stalled
// or broken download manager does. Anything else serves as usual.
// Answers the milliseconds of a silent start, or -1.
long ReadSilentStartSetting();

// The full path of the agent's executable. Raises HResultError.
std::wstring ExecutablePath();
