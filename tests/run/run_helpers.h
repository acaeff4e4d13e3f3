// Shared pieces of the upload run tests: a view that records what the
// worker shows, models built by hand, and firmware files written on the fly.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/upload_firmware.h"
#include "core/run.h"
#include "core/scan.h"
#include "firmware/mdl.h"

// Records every event as a short text, as the dialog shows it: "label 0
// bold  Uploading ...", "bar 0 5000", "percent 0 50" (when the number
// changes), "done 0". onCall may ask the run to stop.
class RecordingView : public RunView
{
  public:
    void PhaseStarted(int group) override
    {
        Add("label " + std::to_string(group) + " bold " + RunGroupLabels[group] + RUN_LABEL_BUSY);
    }
    void PhaseProgress(int group, const RunStep &step) override
    {
        bars[group] = step.bar;
        Add("bar " + std::to_string(group) + " " + std::to_string(step.bar));
        if (step.resends)
            Add("resends " + std::to_string(group) + " " + std::to_string(step.resends));
        if (shown[group] != step.percent) {
            shown[group] = step.percent;
            Add("percent " + std::to_string(group) + " " + std::to_string(step.percent));
        }
    }
    void PhaseEnded(int group) override
    {
        Add("label " + std::to_string(group) + " normal " + RunGroupLabels[group] + RUN_LABEL_DONE);
    }
    void PhaseStopping(int group) override { Add("stopping " + std::to_string(group)); }
    void RunFinished(UploadResult result) override
    {
        doneCount++;
        Add("done " + std::to_string((int)result));
    }

    // A call of a group that goes on after a stop ("bar 1 ...", "stopping 1").
    static bool GoesOn(const std::string &call)
    {
        size_t at = call.find(' ');
        return at != std::string::npos && RunGroupMovesAfterStop(std::atoi(call.c_str() + at + 1));
    }

    std::vector<std::string> Calls(const std::string &prefix) const
    {
        std::vector<std::string> out;
        for (const std::string &c : calls)
            if (c.rfind(prefix, 0) == 0)
                out.push_back(c);
        return out;
    }

    int shown[RUN_GROUP_COUNT] = {};
    int bars[RUN_GROUP_COUNT] = {};
    int doneCount = 0;
    std::vector<std::string> calls;
    std::function<void(const std::string &)> onCall;

  private:
    void Add(const std::string &c)
    {
        calls.push_back(c);
        if (onCall)
            onCall(c);
    }
};

// A Firmware built by hand; the model points into the builder's storage.
struct ModelBuilder {
    struct Seg {
        uint32_t load;
        std::vector<uint8_t> bytes;
    };
    struct Img {
        int32_t base;
        std::vector<Seg> segs;
    };
    std::vector<Img> images;
    std::vector<FirmwareImage> fwImages;
    std::vector<std::vector<FirmwareSegment>> fwSegments;
    Firmware firmware{};

    ModelBuilder &Image(int32_t base)
    {
        images.push_back({base, {}});
        return *this;
    }
    ModelBuilder &Segment(uint32_t load, uint32_t size)
    {
        images.back().segs.push_back({load, std::vector<uint8_t>(size, 0xA5)});
        return *this;
    }
    const Firmware &Build()
    {
        fwImages.assign(images.size(), FirmwareImage{});
        fwSegments.assign(images.size(), {});
        firmware = Firmware{};
        for (size_t i = 0; i < images.size(); i++) {
            for (Seg &s : images[i].segs) {
                FirmwareSegment fs{};
                fs.data = s.bytes.data();
                fs.size = (uint32_t)s.bytes.size();
                fs.capacity = fs.size;
                fs.loadAddress = s.load;
                fwSegments[i].push_back(fs);
                firmware.totalSize += fs.size;
            }
            fwImages[i].segments = fwSegments[i].data();
            fwImages[i].segmentCount = (int32_t)fwSegments[i].size();
            fwImages[i].baseAddress = images[i].base;
        }
        firmware.images = fwImages.data();
        firmware.imageCount = (int32_t)fwImages.size();
        return firmware;
    }
};

// A firmware file in a temporary directory, analysed into a model.
class FirmwareFile
{
  public:
    explicit FirmwareFile(const std::vector<UploadImageLayout> &layout, unsigned recordBytes = 32)
    {
        char tmpl[] = "/tmp/mirdel-run-XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0)
            close(fd);
        path = tmpl;
        EXPECT_TRUE(UploadWriteFile(path, UploadFirmwareText(layout, recordBytes, 99)));
        std::string message;
        EXPECT_EQ(ScanFirmwareFile(path.c_str(), &firmware, &info, &message), 1) << message;
    }
    ~FirmwareFile()
    {
        MdlFirmwareRelease(&firmware);
        std::remove(path.c_str());
    }
    FirmwareFile(const FirmwareFile &) = delete;
    FirmwareFile &operator=(const FirmwareFile &) = delete;

    std::string path;
    Firmware firmware{};
    ScanFileInfo info;
};

// Three images, one without data between the others, four segments in
// all; small enough for a quick run, large enough for several flash
// indications and read-back records per segment.
inline std::vector<UploadImageLayout> SmallLayout()
{
    return {
        {0x1000, "Boot", {{0x100, 2048}}},
        {0x8000, "Empty", {}},
        {0x20000, "Main", {{0x0, 1024}, {0x800, 512}}},
        {0x40000, "Tables", {{0x0, 300}}},
    };
}
