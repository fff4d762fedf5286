#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "extract/libstring.h"
#include "extract/readerror.h"
#include "platform/text.h"

namespace {
std::string U8(const CRefString& s) { return plat::WideToUtf8(std::u16string(s.GetString(), s.GetLength())); }
}  // namespace

TEST(LibraryError, WordFlagAndThrow)
{
    ClearLibraryError();
    EXPECT_EQ(GetLibraryError(), 0);
    EXPECT_EQ(SetLibraryError(6), 6);
    SetLibraryError(0);  // success never clears in callers; the setter itself stores anything
    EXPECT_EQ(GetLibraryError(), 0);

    const int hr = static_cast<int>(0x80030002u);  // a failing storage result
    SetLibraryError(hr);
    EXPECT_EQ(SetThrowOnError(0), 0);
    EXPECT_NO_THROW(RaiseLibraryError());
    EXPECT_EQ(SetThrowOnError(1), 0);
    try {
        RaiseLibraryError();
        ADD_FAILURE() << "nothing thrown";
    } catch (const ReadError& e) {
        EXPECT_EQ(e.reason(), ReadFailure::LibraryError);
        EXPECT_EQ(e.code(), 0x80030002u);
    }
    EXPECT_EQ(SetThrowOnError(0), 1);
    ClearLibraryError();
}

// Documents are converted on several threads at once: one conversion's error
// word and throw flag are never seen by another.
TEST(LibraryError, EachThreadHasItsOwn)
{
    ClearLibraryError();
    SetThrowOnError(0);
    std::thread other([] {
        EXPECT_EQ(GetLibraryError(), 0);
        SetLibraryError(kLibErrorUnexpectedRecord);
        EXPECT_EQ(SetThrowOnError(1), 0);
        EXPECT_THROW(RaiseLibraryError(), ReadError);
    });
    other.join();
    EXPECT_EQ(GetLibraryError(), 0);
    EXPECT_NO_THROW(RaiseLibraryError());
}

TEST(LibraryFormatWide, BoundedBuffer)
{
    char16_t buf[10];
    EXPECT_EQ(FormatWide(buf, 10, u"Section%d", 7), 8);
    EXPECT_EQ(std::u16string(buf), u"Section7");
    EXPECT_EQ(FormatWide(buf, 10, u"Section%d", 123456), -1);
    EXPECT_EQ(std::u16string(buf), u"Section12");
}

TEST(CRefString, AllocBufferCapacities)
{
    struct { int n; int cap; } cases[] = {{1, 7}, {7, 15}, {8, 15}, {15, 23}, {16, 23}, {100, 103}};
    for (const auto& c : cases) {
        CRefString s;
        ASSERT_EQ(s.AllocBuffer(c.n), 1);
        EXPECT_EQ(s.GetCapacity(), c.cap) << c.n;
        EXPECT_EQ(s.GetLength(), c.n);
        EXPECT_EQ(s.GetString()[c.n], 0);
    }
    CRefString e;
    EXPECT_EQ(e.AllocBuffer(0), 1);
    EXPECT_TRUE(e.IsSharedEmpty());
    // Impossible sizes fail like an allocation failure.
    ClearLibraryError();
    EXPECT_EQ(e.AllocBuffer(-1), 0);
    EXPECT_EQ(GetLibraryError(), kLibErrorOutOfMemory);
    EXPECT_EQ(e.AllocBuffer(0x7FFFFFFF), 0);
    ClearLibraryError();
}

TEST(CRefString, SharedEmptyIsNeverFreed)
{
    CRefString s;
    EXPECT_TRUE(s.IsSharedEmpty());
    EXPECT_EQ(s.GetRefCount(), -2);
    s.AssignText(nullptr);
    EXPECT_TRUE(s.IsSharedEmpty());
    s.AssignText(u"");
    EXPECT_TRUE(s.IsSharedEmpty());
    for (int i = 0; i < 5; ++i) s.Release();
    EXPECT_TRUE(s.IsSharedEmpty());
    EXPECT_EQ(s.GetRefCount(), -2);
    EXPECT_EQ(s.GetString()[0], 0);
    CRefString copy(s);
    copy.Empty();
    EXPECT_TRUE(copy.IsSharedEmpty());
}

TEST(CRefString, SharingAndCopyOnWrite)
{
    CRefString a(u"abc");
    CRefString b(a);
    EXPECT_EQ(a.GetString(), b.GetString());
    EXPECT_EQ(a.GetRefCount(), 2);

    b.Append(3, u"def");
    EXPECT_EQ(U8(a), "abc");
    EXPECT_EQ(U8(b), "abcdef");
    EXPECT_EQ(a.GetRefCount(), 1);

    CRefString c(a);
    c.SetAt(0, u'X');
    EXPECT_EQ(U8(a), "abc");
    EXPECT_EQ(U8(c), "Xbc");
    c.SetAt(99, u'Y');  // out of range: nothing
    EXPECT_EQ(U8(c), "Xbc");

    CRefString d(a);
    EXPECT_EQ(d.Replace(u'b', u'B'), 1);
    EXPECT_EQ(U8(a), "abc");
    EXPECT_EQ(U8(d), "aBc");

    CRefString e(a);
    e.TrimRight();
    EXPECT_EQ(a.GetRefCount(), 1);  // made private even with nothing to trim
}

TEST(CRefString, AppendInPlaceAndAcrossBlocks)
{
    CRefString s;
    s.AppendChar(u'가');
    const char16_t* first = s.GetString();
    for (int i = 0; i < 6; ++i) s.AppendChar(u'a');
    EXPECT_EQ(s.GetString(), first);  // capacity 7 held all seven
    s.AppendText(u"xyz");
    EXPECT_EQ(U8(s), "가aaaaaaxyz");
    s.Append(s.GetLength(), s.GetString());  // appending itself
    EXPECT_EQ(U8(s), "가aaaaaaxyz가aaaaaaxyz");
    s.AppendText(nullptr);
    EXPECT_EQ(s.GetLength(), 20);
}

TEST(CRefString, AssignFromItsOwnText)
{
    CRefString s(u"hello world");
    CRefString t(s);
    s.AssignCopy(5, s.GetString() + 6);
    EXPECT_EQ(U8(s), "world");
    EXPECT_EQ(U8(t), "hello world");
    s.CopyLeft(s, 3);
    EXPECT_EQ(U8(s), "wor");
    CRefString left;
    t.CopyLeft(left, 100);
    EXPECT_EQ(U8(left), "hello world");
}

TEST(CRefString, ReplaceText)
{
    struct { const char16_t* text; const char16_t* from; const char16_t* to; int count; const char* want; } cases[] = {
        {u"abcab", u"ab", u"xyz", 2, "xyzcxyz"},
        {u"abcab", u"ab", u"", 2, "c"},
        {u"abcab", u"ab", nullptr, 2, "c"},
        {u"aaaa", u"aa", u"b", 2, "bb"},        // matches do not overlap
        {u"abc", u"zz", u"q", 0, "abc"},
        {u"abc", u"", u"q", 0, "abc"},
        {u"ab", u"ab", u"", 1, ""},
        {u"한글한", u"한", u"韓國", 2, "韓國글韓國"},
    };
    for (const auto& c : cases) {
        CRefString s(c.text);
        CRefString other(s);
        EXPECT_EQ(s.ReplaceText(c.from, c.to), c.count) << U8(CRefString(c.text));
        EXPECT_EQ(U8(s), c.want);
        EXPECT_EQ(U8(other), U8(CRefString(c.text)));  // the sharer is untouched
    }
}

TEST(CRefString, BuffersAndShifting)
{
    CRefString s(u"abc");
    char16_t* p = s.GetBuffer(20);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(s.GetCapacity(), 20);
    EXPECT_EQ(s.GetLength(), 3);
    p[3] = u'd';
    p[4] = 0;
    s.ReleaseBuffer(-1);
    EXPECT_EQ(U8(s), "abcd");

    // A buffer filled without a terminator: the length stops at the capacity.
    p = s.GetBuffer(0);
    for (int i = 0; i <= s.GetCapacity(); ++i) p[i] = u'z';
    s.ReleaseBuffer(-1);
    EXPECT_EQ(s.GetLength(), s.GetCapacity());
    EXPECT_EQ(s.GetString()[s.GetLength()], 0);
    s.ReleaseBuffer(100000);
    EXPECT_EQ(s.GetLength(), s.GetCapacity());

    CRefString t(u"xy");
    char16_t* at = t.ShiftToEnd(5);
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(t.GetLength(), 5);
    EXPECT_EQ(at - t.GetString(), 3);
    EXPECT_EQ(std::u16string(at), u"xy");
    CRefString u(u"long text");
    EXPECT_EQ(u.ShiftToEnd(3), u.GetString());
    EXPECT_EQ(U8(u), "long text");
}

TEST(CRefString, FindTrimAndFormat)
{
    CRefString s(u" \t한 글\u3000 ");
    EXPECT_EQ(s.Find(u'글'), 4);
    EXPECT_EQ(s.Find(u'x'), -1);
    EXPECT_EQ(s.FindText(u"한 글"), 2);
    EXPECT_EQ(s.FindText(u"글한"), -1);
    EXPECT_EQ(s.FindText(nullptr), -1);
    s.TrimLeft();
    s.TrimRight();
    EXPECT_EQ(U8(s), "한 글");

    CRefString f;
    const char16_t* none = nullptr;
    EXPECT_EQ(f.Format(u"Section%d [%s] %s", 3, u"본문", none), 1);
    EXPECT_EQ(U8(f), "Section3 [본문] (null)");
    std::u16string big(20000, u'x');
    EXPECT_EQ(f.Format(u"%s|%s", big.c_str(), big.c_str()), 1);
    EXPECT_EQ(f.GetLength(), 40001);
    EXPECT_EQ(f.Format(u""), 1);
    EXPECT_EQ(f.GetLength(), 0);
}

TEST(CRefStringA, ExactBlocksAndAssignment)
{
    CRefStringA s;
    EXPECT_TRUE(s.IsSharedEmpty());
    EXPECT_EQ(s.AllocBuffer(5), 1);
    EXPECT_EQ(s.GetCapacity(), 5);
    s.Release();
    s.AssignText("abc");
    EXPECT_STREQ(s.GetString(), "abc");
    EXPECT_EQ(s.GetCapacity(), 3);
    s.AssignText("ab");
    EXPECT_STREQ(s.GetString(), "ab");
    EXPECT_EQ(s.GetCapacity(), 3);  // kept: not shared and large enough
    s.AssignText(s.GetString() + 1);
    EXPECT_STREQ(s.GetString(), "b");
    s.AssignText(nullptr);
    EXPECT_TRUE(s.IsSharedEmpty());
}

TEST(CConvBuffers, InlineSlotsThenHeapArray)
{
    CConvBuffers list;
    EXPECT_EQ(list.slots, list.inlineSlots);
    void* a = list.Add(std::malloc(4));
    list.Add(std::malloc(4));
    EXPECT_EQ(list.slots, list.inlineSlots);
    list.Add(std::malloc(4));
    EXPECT_NE(list.slots, list.inlineSlots);
    EXPECT_EQ(list.count, 3);
    EXPECT_EQ(list.slots[0], a);
    for (int i = 0; i < 5; ++i) list.Add(std::malloc(8));
    EXPECT_EQ(list.count, 8);
    list.FreeAll();  // the leak checker of the sanitizer build sees anything left
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.slots, list.inlineSlots);
    list.FreeAll();  // twice is harmless
}

TEST(CConvBuffers, AllocatingConversions)
{
    CConvBuffers list;
    char16_t* w = MultiByteToWideAlloc(949, "\xC7\xD1\xB1\xDB abc", list);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(std::u16string(w), u"한글 abc");
    char* n = WideToMultiByteAlloc(949, u"한글 abc", list);
    ASSERT_NE(n, nullptr);
    EXPECT_STREQ(n, "\xC7\xD1\xB1\xDB abc");
    char* u = WideToMultiByteAlloc(65001, u"\u4E00\u4E01\u4E02", list);
    EXPECT_STREQ(u, "\xE4\xB8\x80\xE4\xB8\x81\xE4\xB8\x82");  // 3 bytes each still fit
    char16_t* e = MultiByteToWideAlloc(949, "", list);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e[0], 0);
    EXPECT_EQ(MultiByteToWideAlloc(949, nullptr, list), nullptr);
    EXPECT_EQ(list.count, 4);
}

TEST(CRefString, SharedBlocksSurviveCopiesOnManyThreads)
{
    CRefString shared(u"공유된 문자열");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&shared] {
            for (int i = 0; i < 20000; ++i) {
                CRefString copy(shared);
                CRefString again;
                again = copy;
                if (i % 1000 == 0) again.AppendChar(u'!');  // a private block now
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(shared.GetRefCount(), 1);
    EXPECT_EQ(U8(shared), "공유된 문자열");
}
