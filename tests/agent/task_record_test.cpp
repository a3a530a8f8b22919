#include "agent/task_record.h"

#include "tests/agent/agent_client.h"

#include <gtest/gtest.h>

namespace {
struct EscapeCase {
    std::wstring text;
    std::wstring field;
};

const EscapeCase kEscapes[] = {
    {L"", L""},
    {L"http://example.com/a.zip?x=1&y=2", L"http://example.com/a.zip?x=1&y=2"},
    {L"a\tb", L"a\\tb"},
    {L"a\nb\rc", L"a\\nb\\rc"},
    {L"back\\slash", L"back\\\\slash"},
    {L"\\N", L"\\\\N"},  // the text "\N" is not the null marker
    {std::wstring(L"a\0b", 3), L"a\\u0000b"},
    {L"\x01\x1F\x7F\x85\x9F", L"\\u0001\\u001F\\u007F\\u0085\\u009F"},
    {L"caf\x00E9 \x20AC \x4E2D", L"caf\x00E9 \x20AC \x4E2D"},
    {L"\xD83D\xDE00", L"\xD83D\xDE00"},    // a pair stays as it is
    {L"x\xD800y", L"x\\uD800y"},           // a lone high half
    {L"x\xDC00", L"x\\uDC00"},             // a lone low half
    {L"\xDE00\xD83D", L"\\uDE00\\uD83D"},  // halves in the wrong order
    {L"\xA0\x2028", L"\xA0\x2028"},        // printable enough for a line
};
}  // namespace

TEST(TaskRecord, EscapesEverythingALineCannotHold) {
    for (const EscapeCase& c : kEscapes) {
        SCOPED_TRACE(testing::PrintToString(c.field));
        EXPECT_EQ(c.field, EscapeRecordField(c.text.data(), c.text.size()));
    }
}

TEST(TaskRecord, NullIsApartFromEmpty) {
    EXPECT_EQ(L"\\N", EscapeRecordField(nullptr, 0));
    EXPECT_EQ(L"", EscapeRecordField(L"", 0));
}

TEST(TaskRecord, LineHoldsEightFieldsInUtf8) {
    Bstr url = MakeBstr(L"http://h/\x00E9\x20AC.zip");
    Bstr comment = MakeBstr(L"");
    Bstr reserved = MakeBstr(L"r\t2");
    const LONG accepted = 0;
    TaskCall call;
    call.url = url.Get();
    call.comment = comment.Get();
    call.referrer = nullptr;
    call.flags = -7;
    call.cookie = nullptr;
    call.reserved = reserved.Get();
    call.accepted = &accepted;
    call.answer = L"slow:5:1";
    EXPECT_EQ("http://h/\xC3\xA9\xE2\x82\xAC.zip\t\t\\N\t-7\t\\N\tr\\t2\t0\tslow:5:1\n",
              FormatTaskRecord(call));

    call.accepted = nullptr;
    call.url = nullptr;
    EXPECT_EQ("\\N\t\t\\N\t-7\t\\N\tr\\t2\t\\N\tslow:5:1\n", FormatTaskRecord(call));
}
