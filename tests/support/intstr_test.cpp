// Number and size texts, and the thousands separator of the user's locale.
#include "support/intstr.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <string>

// glibc's newlocale leaks its copy of LOCPATH, which the built locale needs.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:__argz_add_sep\n";
}

namespace
{

// Every case starts from the C locale and a separator not yet looked up.
class IntStrTest : public ::testing::Test
{
  protected:
    std::string saved[2];
    bool had[2] = {};
    const char *vars[2] = {"LC_ALL", "LOCPATH"};
    void SetUp() override
    {
        for (int i = 0; i < 2; i++)
            if (const char *v = getenv(vars[i]))
                had[i] = true, saved[i] = v;
        setenv("LC_ALL", "C", 1);
        IntStrResetSeparator();
    }
    void TearDown() override
    {
        for (int i = 0; i < 2; i++)
            had[i] ? setenv(vars[i], saved[i].c_str(), 1) : unsetenv(vars[i]);
        IntStrResetSeparator();
    }
};

bool localeUsable(const char *name)
{
    locale_t loc = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(0));
    if (loc)
        freelocale(loc);
    return loc != static_cast<locale_t>(0);
}

// A locale whose separator is ".": an installed German one, or one built
// for the test when the locale sources are there.
const char *dotLocale(std::string &builtDir)
{
    for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"})
        if (localeUsable(name))
            return name;
    std::string tmpl = ::testing::TempDir() + "mirdel-locale-XXXXXX";
    if (!mkdtemp(tmpl.data()))
        return nullptr;
    builtDir = tmpl;
    std::string cmd = "localedef -i de_DE -f UTF-8 " + builtDir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (system(cmd.c_str()) != 0)
        return nullptr;
    setenv("LOCPATH", builtDir.c_str(), 1);
    return localeUsable("de_DE.UTF-8") ? "de_DE.UTF-8" : nullptr;
}

TEST_F(IntStrTest, GroupWithCommaFallback)
{
    // The C locale has no separator: "," is used.
    EXPECT_STREQ(IntStrGroup(0), "0");
    EXPECT_STREQ(IntStrGroup(999), "999");
    EXPECT_STREQ(IntStrGroup(1000), "1,000");
    EXPECT_STREQ(IntStrGroup(12345), "12,345");
    EXPECT_STREQ(IntStrGroup(100000), "100,000");
    EXPECT_STREQ(IntStrGroup(1234567), "1,234,567");
    EXPECT_STREQ(IntStrGroup(UINT64_MAX), "18,446,744,073,709,551,615");
}

TEST_F(IntStrTest, SeparatorOfTheUserLocaleLookedUpOnce)
{
    struct Built {
        std::string dir;
        ~Built()
        {
            if (!dir.empty() && system(("rm -rf " + dir).c_str()) != 0)
                ADD_FAILURE() << "cannot remove " << dir;
        }
    } built;
    const char *dot = dotLocale(built.dir);
    if (!dot)
        GTEST_SKIP() << "no locale with \".\" as thousands separator";

    EXPECT_STREQ(IntStrGroup(1234567), "1,234,567");
    setenv("LC_ALL", dot, 1);
    EXPECT_STREQ(IntStrGroup(1234567), "1,234,567"); // kept for the run
    IntStrResetSeparator();
    EXPECT_STREQ(IntStrGroup(1234567), "1.234.567");
    EXPECT_STREQ(IntStrGroup(UINT64_MAX), "18.446.744.073.709.551.615");
    // The process itself stays in the C locale: decimals keep a point.
    char buf[16];
    snprintf(buf, sizeof buf, "%.2lf", 1.5);
    EXPECT_STREQ(buf, "1.50");
}

TEST_F(IntStrTest, SplitIntoUnits)
{
    struct {
        uint64_t value;
        uint8_t family;
        const char *text; // null: none
    } cases[] = {
        {1536, INTSTR_BINARY, "1Ki+512"},
        {1048576, INTSTR_BINARY, "1Mi"},
        {1049600, INTSTR_BINARY, "1Mi+1Ki"},
        {1179647, INTSTR_BINARY, "1Mi+127Ki+1023"},
        {1023, INTSTR_BINARY, nullptr},
        {0, INTSTR_BINARY, nullptr},
        {UINT64_MAX, INTSTR_BINARY, "15Ei+1023Pi+1023Ti+1023Gi+1023Mi+1023Ki+1023"},
        {1234567, INTSTR_DECIMAL, "1M+234k+567"},
        {UINT64_MAX, INTSTR_DECIMAL, "18E+446P+744T+73G+709M+551k+615"},
        {1536, INTSTR_BLOCKS, "3b"},
        {1000, INTSTR_BLOCKS, "1b+488"},
        {UINT64_MAX, INTSTR_BLOCKS, "36028797018963967b+511"},
        {1000, 7, nullptr}, // a family without units
    };
    for (const auto &c : cases) {
        const char *got = IntStrSplit(c.value, c.family);
        if (c.text)
            EXPECT_STREQ(got, c.text) << c.value;
        else
            EXPECT_EQ(got, nullptr) << c.value << " gave " << got;
    }
    EXPECT_STREQ(IntStrSplitFmt(" = %s", 65536, INTSTR_BINARY), " = 64Ki");
    EXPECT_STREQ(IntStrSplitFmt(" = %s", 512, INTSTR_BINARY), "");
}

TEST_F(IntStrTest, ScaleToLargestUnit)
{
    struct Case {
        uint64_t value;
        uint8_t family;
        double scaled;
        const char *symbol; // null: no unit
        const char *shown;  // "%.2lf %sB" of the two for a size in bytes
    };
    const Case cases[] = {
        {1536, INTSTR_BINARY, 1.5, "Ki", "1.50 KiB"},
        {1048575, INTSTR_BINARY, 1048575 / 1024.0, "Ki", "1024.00 KiB"},
        {512, INTSTR_BINARY, 512.0, nullptr, ""},
        {1024, INTSTR_BLOCKS, 2.0, "b", ""},
        {(1ULL << 62) + (1ULL << 61), INTSTR_BINARY, 6.0, "Ei", "6.00 EiB"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        const char *sym = "unset"; // each call must write its own
        double v = IntStrScale(c.value, c.family, &sym);
        EXPECT_DOUBLE_EQ(v, c.scaled);
        if (!c.symbol) {
            EXPECT_EQ(sym, nullptr);
            continue;
        }
        ASSERT_NE(sym, nullptr);
        EXPECT_STREQ(sym, c.symbol);
        if (*c.shown) {
            char buf[64];
            snprintf(buf, sizeof buf, "%.2lf %sB", v, sym);
            EXPECT_STREQ(buf, c.shown);
        }
    }
    // The size text of the upload dialog.
    const char *sym = nullptr;
    double v = IntStrScale(1536, INTSTR_BINARY, &sym);
    char buf[64];
    snprintf(buf, sizeof buf, "%.2lf %sB (%s Bytes)", v, sym ? sym : "", IntStrGroup(1536));
    EXPECT_STREQ(buf, "1.50 KiB (1,536 Bytes)");
}

} // namespace
