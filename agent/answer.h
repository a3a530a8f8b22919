#pragma once

#include <cstdint>
#include <string>

// How the agent answers AddTask, as configured by the "Answer" setting:
//   "<integer>"          writes the integer into *accepted and returns S_OK
//   "hresult:<number>"   returns that HRESULT (decimal or 0x hex), writes nothing
//   "nowrite"            returns S_OK without writing *accepted
//   "exit"               ends the agent's process in the middle of the call
//   "slow:<ms>:<answer>" waits <ms> milliseconds, then answers <answer>
// Anything else is a configuration mistake (kind Invalid).
struct Answer {
    enum class Kind { Write, Fail, NoWrite, Exit, Invalid };

    Kind kind = Kind::Invalid;
    // Write: the value for *accepted. Fail: the HRESULT's bits.
    std::int32_t value = 0;
    std::uint32_t delayMs = 0;
};

// The setting's value when it is absent.
constexpr const char kDefaultAnswer[] = "1";
// A delay longer than this is refused as a mistake, not slept through.
constexpr std::uint32_t kMaxAnswerDelayMs = 10 * 60 * 1000;

Answer ParseAnswer(const std::string& text);
