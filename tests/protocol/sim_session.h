// What the protocol tests share: a simulator with the port opened to it,
// a recorder of progress events, and firmware files with their models.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using Lines = std::vector<std::string>;

#include "../common/sim_process.h"
#include "firmware/mdl.h"
#include "protocol/mdl_pc.h"
#include "serial/sio.h"

struct Event {
    int id;
    uint32_t a, b;
    std::string line;
};

// Keeps every event; answers false to the upload or verify progress event
// whose a (records so far) is the chosen one. onEvent sees each event as it
// comes, on the thread of the dialogue, between its waits.
struct Recorder {
    std::vector<Event> events;
    uint32_t stopUploadAt = 0;
    uint32_t stopVerifyAt = 0;
    std::function<void(const Event &)> onEvent;

    static bool Fn(int id, void *ctx, uint32_t a, uint32_t b, const char *line)
    {
        auto *r = static_cast<Recorder *>(ctx);
        r->events.push_back({id, a, b, line ? line : ""});
        if (r->onEvent)
            r->onEvent(r->events.back());
        return !((id == EV_UPLOAD_PROGRESS && a == r->stopUploadAt) ||
                 (id == EV_VERIFY_PROGRESS && a == r->stopVerifyAt));
    }
    std::vector<Event> Of(int id) const
    {
        std::vector<Event> out;
        for (const Event &e : events)
            if (e.id == id)
                out.push_back(e);
        return out;
    }
    // a and b of the only event of its kind.
    std::pair<uint32_t, uint32_t> Only(int id) const
    {
        std::vector<Event> e = Of(id);
        EXPECT_EQ(e.size(), 1u) << "event " << id;
        return e.empty() ? std::make_pair(~0u, ~0u) : std::make_pair(e[0].a, e[0].b);
    }
    uint64_t SumA(int id) const
    {
        uint64_t sum = 0;
        for (const Event &e : Of(id))
            sum += e.a;
        return sum;
    }
};

// One simulator and the port to it; the protocol's own waits are made as
// short as the port's time-out.
class Session
{
  public:
    explicit Session(std::vector<std::string> options = {}, int32_t timeoutMs = 3000)
        : sim_(std::move(options))
    {
        MdlSetTimings(20, timeoutMs);
        MdlSetError(0, "untouched");
        port_ = sim_.Path().empty() ? nullptr : SioOpen(sim_.Path().c_str(), 115200, timeoutMs);
    }
    ~Session() { SioClose(port_); }

    SioPort *Port() const { return port_; }

    // The lines the simulator received; waits until `last` is among them,
    // since a line sent without an acknowledgement may still be on its way.
    std::vector<std::string> Received(const std::string &last = "") const
    {
        for (int i = 0; i < 400; ++i) {
            std::vector<std::string> lines = sim_.Received();
            if (last.empty() || Count(lines, last) > 0)
                return lines;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return sim_.Received();
    }
    static size_t Count(const std::vector<std::string> &lines, const std::string &line)
    {
        size_t n = 0;
        for (const std::string &l : lines)
            n += l == line;
        return n;
    }

  private:
    SimProcess sim_;
    SioPort *port_ = nullptr;
};

// The analysed model of a firmware file, released with the object.
struct Model {
    Firmware fw{};
    explicit Model(const std::string &path)
    {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] != 'S')
                continue;
            const char *message = nullptr;
            EXPECT_NE(MdlDecodeLine(line.c_str(), &fw, &message), MDL_DECODE_ERROR) << message;
        }
    }
    ~Model() { MdlFirmwareRelease(&fw); }
};

// The lines of a file that begin with "S", in file order.
inline std::vector<std::string> RecordLines(const std::string &path)
{
    std::vector<std::string> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] == 'S')
            out.push_back(line);
    return out;
}

// An S-record with its count and checksum.
inline std::string Record(char type, uint32_t address, int addressBytes,
                          const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> bytes = {(uint8_t)(addressBytes + data.size() + 1)};
    for (int i = addressBytes - 1; i >= 0; --i)
        bytes.push_back((uint8_t)(address >> (8 * i)));
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    bytes.push_back((uint8_t)~sum);
    std::string s = std::string("S") + type;
    char hex[3];
    for (uint8_t b : bytes) {
        snprintf(hex, sizeof hex, "%02X", b);
        s += hex;
    }
    return s;
}

// A file in a directory of its own, removed with the object.
class TempFile
{
  public:
    explicit TempFile(const std::string &content = "")
    {
        char tmpl[] = "/tmp/mirdel-proto-XXXXXX";
        if (char *d = mkdtemp(tmpl))
            dir_ = d;
        path_ = dir_ + "/file";
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~TempFile()
    {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    const std::string &Path() const { return path_; }
    std::string Content() const
    {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    std::string dir_, path_;
};

// One image named "T" at flash address base: n bytes (i * 7 + 3) in S3
// records of 16 bytes at load address 0x1000, then S7.
inline std::string ImageFile(uint32_t base, size_t n)
{
    char s0[32];
    snprintf(s0, sizeof s0, "0x%X T", (unsigned)base);
    std::string text = Record('0', 0, 2, std::vector<uint8_t>(s0, s0 + strlen(s0))) + "\n";
    for (size_t off = 0; off < n; off += 16) {
        std::vector<uint8_t> data;
        for (size_t i = off; i < n && i < off + 16; ++i)
            data.push_back((uint8_t)(i * 7 + 3));
        text += Record('3', 0x1000 + (uint32_t)off, 4, data) + "\n";
    }
    return text + Record('7', 0, 4, {}) + "\n";
}

inline std::string DataPath(const char *name)
{
    return std::string(MIRDEL_TEST_DATA) + "/" + name;
}
