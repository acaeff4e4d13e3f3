// Runs the built mirdel-cli and compares what it writes byte for byte.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kCli = MIRDEL_BIN_DIR "/cli/mirdel-cli";
const fs::path kData = MIRDEL_TEST_DATA;

std::string ReadAll(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("mirdel-cli-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir / "sub");
    }
    void TearDown() override { fs::remove_all(dir); }

    // A copy of a data file under sub/, with a fixed modification time.
    void Place(const char *name)
    {
        fs::copy_file(kData / name, dir / "sub" / name);
        auto when = std::chrono::sys_days{std::chrono::year{2024} / 3 / 5} + std::chrono::hours{14} +
                    std::chrono::minutes{7} + std::chrono::seconds{9};
        fs::last_write_time(dir / "sub" / name, std::chrono::file_clock::from_sys(when));
    }

    // Runs mirdel-cli with args in dir, in UTC and the C locale; returns the
    // exit status, output and diagnostics in out and err.
    int Run(const std::string &args)
    {
        std::string command = "cd '" + dir.string() + "' && TZ=UTC LC_ALL=C '" + kCli + "' " + args + " >'" +
                              (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
        int status = std::system(command.c_str());
        out = ReadAll(dir / "out");
        err = ReadAll(dir / "err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // A golden file, its location (DIR) being the test's folder.
    std::string Golden(const char *name)
    {
        std::string text = ReadAll(kData / name);
        return text.replace(text.find("DIR/sub"), 3, dir.string());
    }

    fs::path dir;
    std::string out, err;
};

} // namespace

TEST_F(Cli, InfoGolden)
{
    ASSERT_TRUE(fs::exists(kCli)) << kCli;
    Place("multi.srec");
    EXPECT_EQ(Run("info sub/multi.srec"), 0) << err;
    EXPECT_EQ(out, Golden("multi.info.txt"));
    EXPECT_EQ(err, "");
    Place("no_data.srec");
    EXPECT_EQ(Run("info -- sub/no_data.srec"), 0) << err;
    EXPECT_EQ(out, Golden("no_data.info.txt"));

    // --map adds one line after the highest address. Image 1 reaches to
    // 512 MiB, so the first cell holds all of the flash and image 2, and
    // image 0 just beyond the end of flash: marked.
    EXPECT_EQ(Run("info --map sub/multi.srec"), 0) << err;
    std::string want = Golden("multi.info.txt");
    size_t at = want.find('\n', want.find("The highest flash address:")) + 1;
    want.insert(at, "Flash map:                 [!|" + std::string(62, '-') + "!]\n");
    EXPECT_EQ(out, want);
}

TEST_F(Cli, FaultyAndMissingFilesExitWith4)
{
    Place("bad_checksum.srec");
    EXPECT_EQ(Run("info sub/bad_checksum.srec"), 4);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "Error while checking the firmware file:\n\n"
                   "'S10701040506070899':\n- incorrect checksum (0x99), should be 0xD9\n");

    EXPECT_EQ(Run("info sub/missing.srec"), 4);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "Error while checking the firmware file:\n\nsub/missing.srec\n\n- No such file or directory\n");
}

TEST_F(Cli, UsageErrorsExitWith64)
{
    Place("multi.srec");
    for (const char *args : {"", "info", "frobnicate", "--bogus", "info -x sub/multi.srec", "info a b"}) {
        EXPECT_EQ(Run(args), 64) << args;
        EXPECT_EQ(out, "") << args;
        EXPECT_NE(err.find("Usage: mirdel-cli"), std::string::npos) << args;
    }
}

TEST_F(Cli, HelpExplainsEveryCommand)
{
    EXPECT_EQ(Run("--help"), 0);
    EXPECT_EQ(err, "");
    EXPECT_NE(out.find("Usage: mirdel-cli info [--map] FILE"), std::string::npos);
    EXPECT_NE(out.find("\"none\""), std::string::npos);
    EXPECT_NE(out.find("  64  "), std::string::npos);
    EXPECT_EQ(Run("info --help"), 0);
    EXPECT_NE(out.find("Usage: mirdel-cli info [--map] FILE"), std::string::npos);
}
