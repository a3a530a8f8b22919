#include "agent/answer.h"

#include <gtest/gtest.h>

namespace {
using Kind = Answer::Kind;

struct AnswerCase {
    const char* text;
    Kind kind;
    std::int32_t value;
    std::uint32_t delayMs;
};

const AnswerCase kCases[] = {
    {"1", Kind::Write, 1, 0},
    {"0", Kind::Write, 0, 0},
    {"2", Kind::Write, 2, 0},
    {"-1", Kind::Write, -1, 0},
    {"2147483647", Kind::Write, INT32_MAX, 0},
    {"-2147483648", Kind::Write, INT32_MIN, 0},
    {"hresult:0x80004005", Kind::Fail, static_cast<std::int32_t>(0x80004005u), 0},
    {"hresult:0X8007000E", Kind::Fail, static_cast<std::int32_t>(0x8007000Eu), 0},
    {"hresult:-2147467259", Kind::Fail, static_cast<std::int32_t>(0x80004005u), 0},
    {"hresult:1", Kind::Fail, 1, 0},
    {"nowrite", Kind::NoWrite, 0, 0},
    {"exit", Kind::Exit, 0, 0},
    {"slow:250:1", Kind::Write, 1, 250},
    {"slow:0:-1", Kind::Write, -1, 0},
    {"slow:100:hresult:0x80004005", Kind::Fail, static_cast<std::int32_t>(0x80004005u), 100},
    {"slow:100:slow:50:exit", Kind::Exit, 0, 150},
    {"slow:600000:nowrite", Kind::NoWrite, 0, 600000},
};

const char* const kInvalid[] = {
    "",
    " 1",
    "1 ",
    "+1",
    "1x",
    "0x1",  // integers are decimal; only HRESULTs take hexadecimal
    "2147483648",
    "-2147483649",
    "yes",
    "NOWRITE",
    "exit ",
    "hresult:",
    "hresult:0x100000000",
    "hresult:E_FAIL",
    "slow:",
    "slow:100",
    "slow:100:",
    "slow:-1:1",
    "slow:x:1",
    "slow:600001:1",
    "slow:400000:slow:300000:1",  // the delays add up past the limit
    "slow:100:bogus",
};
}  // namespace

TEST(ParseAnswer, ReadsEveryForm) {
    for (const AnswerCase& c : kCases) {
        SCOPED_TRACE(c.text);
        const Answer answer = ParseAnswer(c.text);
        EXPECT_EQ(c.kind, answer.kind);
        EXPECT_EQ(c.value, answer.value);
        EXPECT_EQ(c.delayMs, answer.delayMs);
    }
}

TEST(ParseAnswer, RefusesEverythingElse) {
    for (const char* text : kInvalid) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Kind::Invalid, ParseAnswer(text).kind);
    }
}

TEST(ParseAnswer, DefaultIsAcceptance) {
    const Answer answer = ParseAnswer(kDefaultAnswer);
    EXPECT_EQ(Kind::Write, answer.kind);
    EXPECT_EQ(1, answer.value);
}
