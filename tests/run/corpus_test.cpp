// Firmware files written by tools that are not ours (srec_cat, GNU objcopy,
// as and ld), made at test time from random bytes, plus the variants found
// in the field. Each file is analysed and checked against the bytes it was
// made from, then uploaded with verification to mirdel-sim, whose flash and
// transcript are checked in turn.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include "run_helpers.h"
#include "tests/common/sim_process.h"
#include "tests/firmware/records.h"

namespace
{

struct Chunk {
    uint32_t load;
    std::vector<uint8_t> bytes;
};
// What a file was made from: images in file order, each with the chunks of
// its data in address order.
struct Source {
    int32_t base;
    std::vector<Chunk> chunks;
};

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l))
        lines.push_back(l);
    return lines;
}

std::string JoinLines(const std::vector<std::string> &lines, const char *end)
{
    std::string text;
    for (const std::string &l : lines)
        text += l + end;
    return text;
}

// Where the files of one test run are made, and the tools that make them.
class Workshop
{
  public:
    Workshop()
    {
        char tmpl[] = "/tmp/mirdel-corpus-XXXXXX";
        dir_ = mkdtemp(tmpl) ? tmpl : "";
    }
    ~Workshop()
    {
        std::error_code ec;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, ec);
    }

    std::string Path(const std::string &name) const { return dir_ + "/" + name; }

    // Random bytes written to name.bin; returns the bytes.
    std::vector<uint8_t> Binary(const std::string &name, size_t n)
    {
        std::vector<uint8_t> bytes(n);
        for (uint8_t &b : bytes)
            b = (uint8_t)random_();
        WriteAll(Path(name + ".bin"), std::string(bytes.begin(), bytes.end()));
        return bytes;
    }

    // Runs a tool in the directory; false with what it said in failure.
    bool Run(const std::string &tool, const std::string &args)
    {
        if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) != 0) {
            failure = tool + " is missing (scripts/install-deps installs it)";
            return false;
        }
        std::string out = Path("tool.out");
        std::string cmd = "cd '" + dir_ + "' && " + tool + " " + args + " >'" + out + "' 2>&1";
        if (std::system(cmd.c_str()) != 0) {
            failure = tool + " " + args + ":\n" + ReadAll(out);
            return false;
        }
        return true;
    }

    std::string failure;

  private:
    std::string dir_;
    std::mt19937 random_{20261208};
};

// One file of the corpus: how it is made, what it was made from, and the
// message when the analysis is to refuse it (empty: accepted).
struct CorpusCase {
    std::string name;
    std::function<bool(Workshop &, std::string &text, std::vector<Source> &source)> make;
    std::string refusal = "";
};

// srec_cat: one image from chunks, with an S0 text that carries the base.
bool SrecCat(Workshop &w, const std::string &name, const std::string &s0, const std::string &options,
             const std::vector<std::pair<uint32_t, size_t>> &chunks, Source &source)
{
    std::string args;
    for (size_t i = 0; i < chunks.size(); ++i) {
        std::string bin = name + "-" + std::to_string(i);
        source.chunks.push_back({chunks[i].first, w.Binary(bin, chunks[i].second)});
        args += bin + ".bin -binary -offset " + std::to_string(chunks[i].first) + " ";
    }
    if (!s0.empty())
        args += "-header '" + s0 + "' ";
    return w.Run("srec_cat", args + "-o " + name + ".srec " + options);
}

// The first line of a file, the tool's own S0 record, replaced by one with
// a base address, as a vendor's build does.
std::string WithBase(const std::string &text, const std::string &s0)
{
    return S0(s0) + text.substr(text.find('\n'));
}

// Every record as the file holds it, line ends removed: what the instrument
// is to receive. Written out here, apart from the program's reader.
std::vector<std::string> RecordsOf(const std::string &text)
{
    std::vector<std::string> records;
    for (std::string l : SplitLines(text)) {
        while (!l.empty() && l.back() == '\r')
            l.pop_back();
        if (!l.empty() && l[0] != '#' && l.find_first_of(" \t") == std::string::npos)
            records.push_back(l);
    }
    return records;
}

// The flash a file is to leave, by flash address.
std::map<uint32_t, uint8_t> FlashOf(const std::vector<Source> &source)
{
    std::map<uint32_t, uint8_t> flash;
    for (const Source &img : source)
        for (const Chunk &c : img.chunks)
            for (size_t i = 0; i < c.bytes.size(); ++i)
                flash[(uint32_t)img.base + (c.load - img.chunks[0].load) + (uint32_t)i] = c.bytes[i];
    return flash;
}

// The simulator's flash dump (S3 records of whole pages), read byte by byte.
std::map<uint32_t, uint8_t> ReadDump(const std::string &path)
{
    std::map<uint32_t, uint8_t> flash;
    for (const std::string &l : SplitLines(ReadAll(path))) {
        uint32_t address = (uint32_t)std::stoul(l.substr(4, 8), nullptr, 16);
        for (size_t i = 12; i + 2 < l.size(); i += 2)
            flash[address++] = (uint8_t)std::stoul(l.substr(i, 2), nullptr, 16);
    }
    return flash;
}

// The analysis against the source: images, segments (runs of adjacent
// chunks), flash addresses, sizes and bytes.
void CheckModel(const Firmware &fw, const std::vector<Source> &source)
{
    ASSERT_EQ(fw.imageCount, (int32_t)source.size());
    uint32_t total = 0;
    for (size_t i = 0; i < source.size(); ++i) {
        const FirmwareImage &img = fw.images[i];
        EXPECT_EQ(img.baseAddress, source[i].base) << "image " << i;
        std::vector<Chunk> segments;
        for (const Chunk &c : source[i].chunks) {
            if (!segments.empty() && segments.back().load + segments.back().bytes.size() == c.load)
                segments.back().bytes.insert(segments.back().bytes.end(), c.bytes.begin(), c.bytes.end());
            else
                segments.push_back(c);
        }
        ASSERT_EQ(img.segmentCount, (int32_t)segments.size()) << "image " << i;
        for (size_t j = 0; j < segments.size(); ++j) {
            const FirmwareSegment &seg = img.segments[j];
            const Chunk &want = segments[j];
            EXPECT_EQ(seg.loadAddress, want.load) << "image " << i << " segment " << j;
            EXPECT_EQ(MdlFlashAddress(&img, &seg), (uint32_t)source[i].base + want.load - segments[0].load);
            ASSERT_EQ(seg.size, want.bytes.size()) << "image " << i << " segment " << j;
            EXPECT_TRUE(std::equal(want.bytes.begin(), want.bytes.end(), seg.data))
                << "image " << i << " segment " << j;
            total += seg.size;
        }
    }
    EXPECT_EQ(fw.totalSize, total);
}

// A variant of a srec_cat file: lines edited by edit, each ended by end
// (the last one too, unless lastEnd is false).
CorpusCase Variant(const std::string &name, std::function<void(std::vector<std::string> &)> edit,
                   const char *end = "\n", const std::string &refusal = "", bool lastEnd = true)
{
    return {name,
            [=](Workshop &w, std::string &text, std::vector<Source> &source) {
                source = {{0x10000, {}}};
                if (!SrecCat(w, "variant", "0x10000 Variant", "-address-length=2 -obs=64",
                             {{0x400, 1500}, {0xC00, 200}}, source[0]))
                    return false;
                std::vector<std::string> lines = SplitLines(ReadAll(w.Path("variant.srec")));
                edit(lines);
                text = JoinLines(lines, end);
                if (!lastEnd)
                    text.resize(text.size() - std::strlen(end));
                return true;
            },
            refusal};
}

std::vector<CorpusCase> Corpus()
{
    std::vector<CorpusCase> cases = {
        {"srec_cat S1, one data byte per record",
         [](Workshop &w, std::string &text, std::vector<Source> &source) {
             source = {{0x1000, {}}};
             bool ok = SrecCat(w, "s1", "0x1000 Boot", "-address-length=2 -obs=1", {{0x100, 300}}, source[0]);
             text = ReadAll(w.Path("s1.srec"));
             return ok;
         }},
        {"srec_cat S2, 16-byte records, three segments",
         [](Workshop &w, std::string &text, std::vector<Source> &source) {
             source = {{0x20000, {}}};
             bool ok = SrecCat(w, "s2", "0x20000 Main", "-address-length=3 -obs=16",
                               {{0x12000, 700}, {0x12400, 300}, {0x13000, 33}}, source[0]);
             text = ReadAll(w.Path("s2.srec"));
             return ok;
         }},
        {"srec_cat S3, 250-byte records (lines of 514 characters), CR LF",
         [](Workshop &w, std::string &text, std::vector<Source> &source) {
             source = {{0x40000, {}}};
             bool ok = SrecCat(w, "s3", "0x40000 Tables", "-address-length=4 -obs=250 -line-termination=crlf",
                               {{0x10000000, 1900}}, source[0]);
             text = ReadAll(w.Path("s3.srec"));
             return ok;
         }},
        {"srec_cat, three images joined",
         [](Workshop &w, std::string &text, std::vector<Source> &source) {
             source = {{0x2000, {}}, {0x8000, {}}, {0x60000, {}}};
             bool ok = SrecCat(w, "j1", "0x2000 One", "-address-length=2 -obs=32", {{0x0, 500}}, source[0]) &&
                       SrecCat(w, "j2", "0x8000 Two", "-address-length=3 -obs=100", {{0x8000, 900}}, source[1]) &&
                       SrecCat(w, "j3", "0x60000 Three", "-address-length=4 -obs=7", {{0x60000, 90}}, source[2]);
             text = ReadAll(w.Path("j1.srec")) + ReadAll(w.Path("j2.srec")) + ReadAll(w.Path("j3.srec"));
             return ok;
         }},
        {"srec_cat, data below the first segment",
         [](Workshop &w, std::string &text, std::vector<Source> &source) {
             source = {{0x30000, {}}, {0, {}}};
             bool ok = SrecCat(w, "hi", "0x30000 Low", "-address-length=2", {{0x2000, 64}}, source[0]) &&
                       SrecCat(w, "lo", "", "-address-length=2 -disable=header", {{0x1000, 64}}, source[1]);
             text = ReadAll(w.Path("hi.srec")) + ReadAll(w.Path("lo.srec"));
             return ok;
         },
         "Segment (1/1) address 0x1000 is below flash base address"},
        {"objcopy binary, S3 forced, --srec-len=40, base-address S0",
         [](Workshop &w, std::string &text, std::vector<Source> &source) {
             source = {{0x50000, {{0x3000, w.Binary("ob", 1000)}}}};
             bool ok = w.Run("objcopy", "-I binary -O srec --srec-forceS3 --srec-len=40 --change-addresses 0x3000 "
                                        "ob.bin ob.srec");
             text = WithBase(ReadAll(w.Path("ob.srec")), "0x50000 Objcopy");
             return ok;
         }},
        {"objcopy binary with the tool's own S0 (the file name)",
         [](Workshop &w, std::string &text, std::vector<Source> &) {
             w.Binary("own", 100);
             bool ok = w.Run("objcopy", "-I binary -O srec own.bin own.srec");
             text = ReadAll(w.Path("own.srec"));
             return ok;
         },
         "Incorrect \"S0\" record"},
        {"objcopy from an ELF with three loadable sections (as, ld)",
         [](Workshop &w, std::string &text, std::vector<Source> &source) {
             const char *names[] = {".text", ".rodata", ".data"};
             const uint32_t at[] = {0x1000, 0x1800, 0x2400};
             const size_t sizes[] = {1200, 333, 64};
             source = {{0x70000, {}}};
             std::string assembly;
             for (int i = 0; i < 3; ++i) {
                 source[0].chunks.push_back({at[i], w.Binary(names[i] + 1, sizes[i])});
                 assembly += std::string(".section ") + names[i] + "\n";
                 for (uint8_t b : source[0].chunks.back().bytes)
                     assembly += ".byte " + std::to_string(b) + "\n";
             }
             WriteAll(w.Path("fw.s"), assembly);
             bool ok = w.Run("as", "-o fw.o fw.s") &&
                       w.Run("ld", "-o fw.elf -e 0 -Ttext=0x1000 --section-start=.rodata=0x1800 "
                                   "-Tdata=0x2400 fw.o") &&
                       w.Run("objcopy", "-O srec fw.elf fw.srec");
             text = WithBase(ReadAll(w.Path("fw.srec")), "0x70000 Elf");
             return ok;
         }},
        Variant("variant: lower-case hex digits",
                [](std::vector<std::string> &lines) {
                    for (std::string &l : lines)
                        std::transform(l.begin() + 2, l.end(), l.begin() + 2, ::tolower);
                }),
        Variant("variant: S5 and S6 count records",
                [](std::vector<std::string> &lines) {
                    lines.insert(lines.begin() + 3, "S5030003F9");
                    lines.insert(lines.end() - 1, "S604000010EB");
                }),
        Variant(
            "variant: CR LF with comment, blank and empty lines and a comment of 700 characters",
            [](std::vector<std::string> &lines) {
                lines.insert(lines.begin(), "# written by a build on another system");
                lines.insert(lines.begin() + 2, "");
                lines.insert(lines.begin() + 4, "#" + std::string(699, 'c'));
                lines.insert(lines.begin() + 6, "");
                lines.insert(lines.begin() + 7, "S1 not a record");
                lines.insert(lines.end() - 1, "\t");
                lines.push_back("");
            },
            "\r\n"),
        Variant("variant: a comment of 1000 characters between records",
                [](std::vector<std::string> &lines) {
                    lines.insert(lines.begin() + 5, "#" + std::string(999, 'S'));
                }),
        Variant(
            "variant: last line without its line end",
            [](std::vector<std::string> &lines) {
                lines.push_back("S9030000FC");
            },
            "\n", "'S9030000FC': not terminated with end of line character !", false),
    };
    return cases;
}

// One file end to end; a fatal failure ends only this file's checks.
void CheckFile(const CorpusCase &c)
{
    Workshop w;
    std::string text;
    std::vector<Source> source;
    ASSERT_TRUE(c.make(w, text, source)) << w.failure;
    const std::string path = w.Path("corpus.srec");
    WriteAll(path, text);

    struct Model {
        Firmware fw{};
        ~Model() { MdlFirmwareRelease(&fw); }
    } model;
    Firmware &fw = model.fw;
    ScanFileInfo info;
    std::string message;
    int scanned = ScanFirmwareFile(path.c_str(), &fw, &info, &message);
    if (!c.refusal.empty()) {
        EXPECT_EQ(scanned, 0);
        EXPECT_EQ(message, c.refusal);
        std::printf("[corpus] %s: checked the analysis's refusal\n", c.name.c_str());
        return;
    }
    ASSERT_EQ(scanned, 1) << message;
    CheckModel(fw, source);

    const std::string dump = w.Path("flash.dump");
    SimProcess sim({"--flash-dump", dump});
    std::string error;
    SioPort *port = RunOpenPort(sim.Path(), error);
    ASSERT_NE(port, nullptr) << error;
    RecordingView view;
    UploadRun run(fw, path, view);
    ASSERT_TRUE(run.Start(port));
    run.Join();
    EXPECT_EQ(view.calls.back(), "done " + std::to_string((int)UPLOAD_OK)) << run.errorText;

    // The records between the job line and the end mark, as the file
    // holds them and without any carriage return.
    std::vector<std::string> received = sim.Received();
    auto job = std::find(received.begin(), received.end(), "MIRDEL");
    ASSERT_NE(job, received.end());
    auto end = std::find(job, received.end(), ".");
    ASSERT_NE(end, received.end());
    const std::vector<std::string> records = RecordsOf(text);
    EXPECT_EQ(std::vector<std::string>(job + 1, end), records);

    ASSERT_EQ(sim.Stop(), 0);
    std::map<uint32_t, uint8_t> want = FlashOf(source), got = ReadDump(dump);
    size_t differ = 0;
    for (const auto &[address, byte] : got) {
        auto it = want.find(address);
        differ += byte != (it == want.end() ? 0xFF : it->second);
    }
    for (const auto &[address, byte] : want)
        differ += got.count(address) == 0;
    EXPECT_EQ(differ, 0u) << "flash bytes unlike the source";

    std::printf("[corpus] %s: checked the analysis (%d images, %u bytes) against the source, the "
                "upload of %zu records as written, the verification, the flash\n",
                c.name.c_str(), fw.imageCount, fw.totalSize, records.size());
}

} // namespace

TEST(Corpus, FilesOfOtherToolsAnalysedUploadedAndVerified)
{
    for (const CorpusCase &c : Corpus()) {
        SCOPED_TRACE(c.name);
        CheckFile(c);
    }
}
