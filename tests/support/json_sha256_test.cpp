// The JSON line writer and reader, and SHA-256, against known answers.
#include <gtest/gtest.h>

#include <string>

#include "support/json.h"
#include "support/sha256.h"

TEST(Json, StringsAreEscapedIntoValidUtf8)
{
    struct Case {
        std::string text, json;
        bool same = true; // the reader gives the text back
    };
    const Case cases[] = {
        {"", "\"\""},
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"line\nnext\r\t", "\"line\\nnext\\r\\t\""},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001F\\u007F\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
        {"\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80", "\"\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80\""},
        // Not UTF-8: a lone continuation byte, a cut sequence, an overlong
        // form, a surrogate.
        {"\x80", "\"\\u0080\"", false},
        {"\xe2\x82", "\"\\u00E2\\u0082\"", false},
        {"\xc0\xaf", "\"\\u00C0\\u00AF\"", false},
        {"\xed\xa0\x80", "\"\\u00ED\\u00A0\\u0080\"", false},
        {"%s%n", "\"%s%n\""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(JsonString(c.text), c.json) << c.text;
        std::string back;
        ASSERT_TRUE(JsonGetString("{\"k\":" + c.json + "}", "k", back));
        EXPECT_EQ(back == c.text, c.same) << c.json;
    }
}

TEST(Json, ObjectsAndTopLevelLookUp)
{
    JsonObject inner;
    inner.Add("x", 1);
    JsonObject o;
    o.Add("s", "t").Add("n", (int64_t)-5).Add("u", (uint64_t)18446744073709551615ull)
        .Add("d", 1.23456).Add("neg", -0.0004).Add("b", true).AddNull("z")
        .AddRaw("o", "[" + inner.Text() + ",{\"s\":\"deep\"}]").Add("last", "end");
    const std::string line = o.Text();
    EXPECT_EQ(line, "{\"s\":\"t\",\"n\":-5,\"u\":18446744073709551615,\"d\":1.235,\"neg\":0.000,"
                    "\"b\":true,\"z\":null,\"o\":[{\"x\":1},{\"s\":\"deep\"}],\"last\":\"end\"}");
    std::string s;
    double d;
    EXPECT_TRUE(JsonGetString(line, "last", s));
    EXPECT_EQ(s, "end"); // found past the nested values
    EXPECT_TRUE(JsonGetString(line, "s", s));
    EXPECT_EQ(s, "t"); // the top-level key, not the nested one
    EXPECT_TRUE(JsonGetNumber(line, "n", d));
    EXPECT_EQ(d, -5);
    EXPECT_FALSE(JsonGetNumber(line, "s", d));
    EXPECT_FALSE(JsonGetString(line, "z", s));
    EXPECT_FALSE(JsonGetString(line, "x", s));
    EXPECT_FALSE(JsonGetString("{\"s\":\"open", "s", s));
    EXPECT_FALSE(JsonGetString("not json", "s", s));
}

TEST(Sha256, KnownDigests)
{
    struct Case {
        std::string data, digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case &c : cases) {
        Sha256 ctx;
        Sha256Begin(&ctx);
        // In uneven pieces, so that the block joins are crossed.
        for (size_t at = 0; at < c.data.size(); at += 61)
            Sha256Add(&ctx, c.data.data() + at, std::min<size_t>(61, c.data.size() - at));
        EXPECT_EQ(Sha256End(&ctx), c.digest) << c.data.size();
    }
    std::string hex, error;
    EXPECT_FALSE(Sha256File("/nonexistent/file", hex, error));
    EXPECT_FALSE(error.empty());
}
