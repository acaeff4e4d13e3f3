// --help and --version of the three programs: text on standard output,
// exit status 0, nothing else done (no file, no window).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct GnuCase {
    const char *program; // path below the build directory
    const char *args;
    const char *firstLine;
};

const GnuCase kCases[] = {
    {"cli/mirdel-cli", "--help", "Usage: mirdel-cli COMMAND [ARGUMENTS]"},
    {"cli/mirdel-cli", "--version", "mirdel-cli " MIRDEL_PROJECT_VERSION},
    {"sim/mirdel-sim", "--help", "Usage: mirdel-sim [OPTION]..."},
    {"sim/mirdel-sim", "--version", "mirdel-sim " MIRDEL_PROJECT_VERSION},
#ifdef MIRDEL_DESKTOP_BUILT
    // What the desktop program's own parser would have taken as -h, -e, -l p
    // ... and a log file named "p".
    {"desktop_qt/mirdel", "--help", "Usage: mirdel [-v] [-l LOGFILE] [FIRMWARE-FILE]"},
    {"desktop_qt/mirdel", "-v --version", "mirdel " MIRDEL_PROJECT_VERSION},
    {"desktop_qt/mirdel", "-lrun.log --help image.srec", "Usage: mirdel [-v] [-l LOGFILE] [FIRMWARE-FILE]"},
#endif
};

} // namespace

TEST(GnuOptions, PrintAndDoNothingElse)
{
    fs::path dir = fs::temp_directory_path() / ("mirdel-gnu-" + std::to_string(std::random_device{}()));
    fs::path out = dir.string() + ".out", err = dir.string() + ".err";
    for (const GnuCase &c : kCases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.args);
        fs::create_directories(dir);
        // Without a display: a program that went on to open its window
        // would fail here.
        std::string command = "cd '" + dir.string() +
                              "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" MIRDEL_BIN_DIR "/" +
                              c.program + "' " + c.args + " >'" + out.string() + "' 2>'" + err.string() + "'";
        int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        std::string text = ReadAll(out);
        EXPECT_EQ(text.substr(0, text.find('\n')), c.firstLine);
        EXPECT_EQ(ReadAll(err), "");
        EXPECT_TRUE(fs::is_empty(dir)) << "a file was left in the current directory";
        fs::remove_all(dir);
    }
    fs::remove(out);
    fs::remove(err);
}

#ifdef MIRDEL_DESKTOP_BUILT
// Without a display the desktop program says what it needs, instead of
// Qt's abort.
TEST(GnuOptions, DesktopWithoutDisplayNamesTheCommandLineTool)
{
    fs::path err =
        fs::temp_directory_path() / ("mirdel-nodisplay-" + std::to_string(std::random_device{}()));
    std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" MIRDEL_BIN_DIR
                          "/desktop_qt/mirdel' 2>'" +
                          err.string() + "'";
    int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
    EXPECT_EQ(ReadAll(err), "mirdel: needs a graphical session (X11 or Wayland); the command-line "
                            "tool is mirdel-cli\n");
    fs::remove(err);
}
#endif
