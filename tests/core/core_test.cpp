#include <gtest/gtest.h>

#include "platform/framework/core/dictionary.h"
#include "platform/framework/core/memoryblock.h"
#include "platform/framework/core/ref.h"
#include "platform/framework/core/text.h"

namespace {

struct Base {
    virtual ~Base() = default;
    int value = 1;
};
struct Derived : Base {};
struct Other : Base {};

}  // namespace

TEST(Ref, NilUseThrowsAndCastsAreChecked) {
    fw::Ref<Base> nil;
    EXPECT_THROW((void)nil->value, fw::NilObjectException);
    EXPECT_THROW((void)*nil, fw::NilObjectException);

    fw::Ref<Base> b = fw::New<Derived>();
    EXPECT_EQ(b->value, 1);
    EXPECT_TRUE(b.As<Derived>());
    EXPECT_FALSE(b.As<Other>());
    EXPECT_THROW(b.Cast<Other>(), fw::IllegalCastException);
    // A nil reference casts to nil without complaint, as a nil object has no class.
    EXPECT_TRUE(nil.Cast<Other>().IsNil());

    // The last reference frees the object.
    std::weak_ptr<Base> watch = b.Shared();
    b = nullptr;
    EXPECT_TRUE(watch.expired());
}

TEST(Text, Functions) {
    EXPECT_EQ(fw::Str(int32_t{-42}), "-42");
    EXPECT_EQ(fw::Str(int32_t{0}), "0");
    EXPECT_EQ(fw::Hex(255), "FF");
    EXPECT_EQ(fw::Hex(0), "0");
    EXPECT_EQ(fw::Hex(-1), "FFFFFFFF");
    EXPECT_EQ(fw::Hex(-2147483648LL), "80000000");

    EXPECT_EQ(fw::Val("404 Not Found"), 404);
    EXPECT_EQ(fw::Val("  12abc"), 12);
    EXPECT_EQ(fw::Val("-3.5x"), -3.5);
    EXPECT_EQ(fw::Val("abc"), 0);
    EXPECT_EQ(fw::Val(""), 0);
    EXPECT_EQ(fw::Val("8080/path"), 8080);

    EXPECT_EQ(fw::Mid("Quillet", 2, 3), "uil");
    EXPECT_EQ(fw::Mid("Quillet", 5), "let");
    EXPECT_EQ(fw::Mid("Quillet", 9), "");
    EXPECT_EQ(fw::InStr("a:b:c", ":"), 2);
    EXPECT_EQ(fw::InStr(3, "a:b:c", ":"), 4);
    EXPECT_EQ(fw::InStr("abc", "x"), 0);
    EXPECT_EQ(fw::InStr("abc", ""), 0);
    EXPECT_EQ(fw::NthField("HTTP/1.0 200 OK", " ", 2), "200");
    EXPECT_EQ(fw::NthField("HTTP/1.0", " ", 2), "");
    EXPECT_EQ(fw::NthField("a  b", " ", 2), "");
    EXPECT_EQ(fw::NthField("host:8080", ":", 1), "host");
    EXPECT_EQ(fw::CountFields("a,b,,c", ","), 4);

    EXPECT_EQ(fw::Trim(" \t1.0.0\r\n"), "1.0.0");
    EXPECT_EQ(fw::LTrim("  x  "), "x  ");
    EXPECT_EQ(fw::Trim(" \n "), "");
    EXPECT_EQ(fw::Chr(13), "\r");
    EXPECT_EQ(fw::Chr(0xA9), "\xC2\xA9");
    EXPECT_EQ(fw::EndOfLine(), "\n");
    EXPECT_EQ(fw::ReplaceAll("a\r\nb\r\nc", "\r\n", " "), "a b c");
}

TEST(Text, ComparisonIgnoresAsciiCaseAndSortsDeterministically) {
    EXPECT_TRUE(fw::TextEquals("Content-Length", "content-length"));
    EXPECT_FALSE(fw::TextEquals("abc", "abd"));
    EXPECT_FALSE(fw::TextEquals("é", "É"));
    std::vector<std::string> names{"violin", "Accordian", "Violin", "banjo", "Bagpipe", "b"};
    fw::SortTexts(names);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Accordian", "b", "Bagpipe", "banjo", "Violin", "violin"}));
}

TEST(Text, Base64) {
    EXPECT_EQ(fw::EncodeBase64(""), "");
    EXPECT_EQ(fw::EncodeBase64("f"), "Zg==");
    EXPECT_EQ(fw::EncodeBase64("fo"), "Zm8=");
    EXPECT_EQ(fw::EncodeBase64("foo"), "Zm9v");
    EXPECT_EQ(fw::EncodeBase64("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    std::string longText(60, 'x');
    std::string wrapped = fw::EncodeBase64(longText, 76);
    EXPECT_EQ(wrapped.find("\r\n"), 76u);
    EXPECT_EQ(wrapped.size(), 80u + 2u);
}

TEST(Dictionary, KeepsInsertionOrderAndIgnoresKeyCase) {
    fw::Dictionary d;
    d.SetValue("Accept", "*/*");
    d.SetValue("Host", "example");
    d.SetValue("accept-language", "en");
    d.SetValue("ACCEPT", "text/plain");
    ASSERT_EQ(d.Count(), 3);
    EXPECT_EQ(d.Key(0), "Accept");  // the first spelling stays
    EXPECT_EQ(d.Value("accept").StringValue(), "text/plain");
    EXPECT_EQ(d.Key(2), "accept-language");
    EXPECT_TRUE(d.HasKey("HOST"));

    d.Remove("host");
    ASSERT_EQ(d.Count(), 2);
    EXPECT_EQ(d.Key(1), "accept-language");
    EXPECT_EQ(d.Value("Accept-Language").StringValue(), "en");
    d.SetValue("Host", 16);
    EXPECT_EQ(d.Key(2), "Host");
    EXPECT_EQ(d.Value("host").IntegerValue(), 16);

    EXPECT_THROW(d.Value("missing"), fw::KeyNotFoundException);
    EXPECT_THROW(d.Remove("missing"), fw::KeyNotFoundException);
    EXPECT_THROW(d.Key(3), fw::OutOfBoundsException);
    EXPECT_THROW(d.Key(-1), fw::OutOfBoundsException);
    d.Clear();
    EXPECT_EQ(d.Count(), 0);
    EXPECT_FALSE(d.HasKey("Accept"));
}

TEST(MemoryBlock, BytesAreBoundsChecked) {
    fw::MemoryBlock m(std::vector<uint8_t>{0x90, 0xFF, 0x00});
    EXPECT_EQ(m.Size(), 3);
    EXPECT_EQ(m.Byte(0), 144);
    EXPECT_EQ(m.Byte(1), 255);
    EXPECT_THROW(m.Byte(3), fw::OutOfBoundsException);
    EXPECT_THROW(m.Byte(-1), fw::OutOfBoundsException);
    fw::MemoryBlock empty;
    EXPECT_THROW(empty.Byte(0), fw::OutOfBoundsException);
}
