#include "sim/instrument.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "firmware/mdl.h"

namespace sim {

namespace {

struct NameOf {
    const char *name;
    int value;
};

const NameOf kPhases[] = {
    {"handshake", (int)Phase::Handshake}, {"job", (int)Phase::Job},
    {"readjob", (int)Phase::ReadJob},     {"finish", (int)Phase::Finish},
    {"record", (int)Phase::Record},       {"end", (int)Phase::End},
    {"flash", (int)Phase::Flash},         {"readback", (int)Phase::Readback},
};

const NameOf kKinds[] = {
    {"refuse", (int)FaultKind::Refuse},   {"retry", (int)FaultKind::Retry},
    {"wait", (int)FaultKind::Wait},       {"stop", (int)FaultKind::Stop},
    {"text", (int)FaultKind::Text},       {"silent", (int)FaultKind::Silent},
    {"hangup", (int)FaultKind::Hangup},   {"garbage", (int)FaultKind::Garbage},
    {"long", (int)FaultKind::Long},       {"nul", (int)FaultKind::Nul},
    {"soh", (int)FaultKind::Soh},         {"printf", (int)FaultKind::Printf},
    {"cr", (int)FaultKind::Cr},           {"badsum", (int)FaultKind::BadSum},
    {"dup", (int)FaultKind::Dup},         {"hold", (int)FaultKind::Hold},
    {"cut", (int)FaultKind::Cut},         {"skip", (int)FaultKind::Skip},
    {"retryall", (int)FaultKind::RetryAll},
};

template <size_t N> bool Lookup(const NameOf (&table)[N], const std::string &name, int &value)
{
    for (const NameOf &row : table) {
        if (name == row.name) {
            value = row.value;
            return true;
        }
    }
    return false;
}

const char kDefaultRefusal[] = "refused by the simulator";

std::string RetryLine(const std::string &text)
{
    return text.empty() ? std::string("-RETRY") : "-RETRY " + text;
}

} // namespace

bool ParseFault(const std::string &text, Fault &out, std::string &err)
{
    size_t c1 = text.find(':');
    size_t c2 = c1 == std::string::npos ? c1 : text.find(':', c1 + 1);
    if (c2 == std::string::npos) {
        err = "'" + text + "': expected PHASE:N:KIND[:TEXT]";
        return false;
    }
    size_t c3 = text.find(':', c2 + 1);
    std::string phase = text.substr(0, c1);
    std::string index = text.substr(c1 + 1, c2 - c1 - 1);
    std::string kind = text.substr(c2 + 1, c3 == std::string::npos ? std::string::npos : c3 - c2 - 1);
    int p, k;
    if (!Lookup(kPhases, phase, p)) {
        err = "'" + phase + "': unknown phase";
        return false;
    }
    char *end = nullptr;
    unsigned long n = std::strtoul(index.c_str(), &end, 10);
    if (index.empty() || *end != '\0' || n == 0) {
        err = "'" + index + "': the event number must be 1 or more";
        return false;
    }
    if (!Lookup(kKinds, kind, k)) {
        err = "'" + kind + "': unknown fault kind";
        return false;
    }
    out.phase = (Phase)p;
    out.index = n;
    out.kind = (FaultKind)k;
    out.text = c3 == std::string::npos ? std::string() : text.substr(c3 + 1);
    return true;
}

void Flash::Write(uint32_t address, const uint8_t *data, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        uint32_t a = address + (uint32_t)i;
        auto it = pages_.find(a / kPage);
        if (it == pages_.end()) {
            it = pages_.emplace(a / kPage, std::array<uint8_t, kPage>{}).first;
            it->second.fill(0xFF);
        }
        it->second[a % kPage] = data[i];
    }
}

uint8_t Flash::Read(uint32_t address) const
{
    auto it = pages_.find(address / kPage);
    return it == pages_.end() ? 0xFF : it->second[address % kPage];
}

std::vector<uint32_t> Flash::Pages() const
{
    std::vector<uint32_t> starts;
    for (const auto &page : pages_)
        starts.push_back(page.first * kPage);
    return starts;
}

void Flash::Flip(uint32_t address)
{
    uint8_t b = (uint8_t)~Read(address);
    Write(address, &b, 1);
}

std::string MakeRecord(char type, uint32_t address, int addressBytes, const uint8_t *data,
                       size_t n)
{
    unsigned count = (unsigned)(addressBytes + n + 1);
    std::string s = "S";
    s += type;
    char hex[3];
    unsigned sum = count;
    snprintf(hex, sizeof hex, "%02X", count & 0xFF);
    s += hex;
    for (int i = addressBytes - 1; i >= 0; --i) {
        unsigned b = (address >> (8 * i)) & 0xFF;
        sum += b;
        snprintf(hex, sizeof hex, "%02X", b);
        s += hex;
    }
    for (size_t i = 0; i < n; ++i) {
        sum += data[i];
        snprintf(hex, sizeof hex, "%02X", data[i]);
        s += hex;
    }
    snprintf(hex, sizeof hex, "%02X", ~sum & 0xFF);
    s += hex;
    return s;
}

Instrument::Instrument(const Options &options, Link link) : opt_(options), link_(std::move(link))
{
    if (opt_.readbackBytes == 0 || opt_.readbackBytes > 250)
        opt_.readbackBytes = 32;
    if (opt_.flashStep == 0)
        opt_.flashStep = 4096;
}

Instrument::~Instrument() { ResetUpload(); }

const Fault *Instrument::FindFault(Phase phase, unsigned long index) const
{
    for (const Fault &f : opt_.faults)
        if (f.phase == phase && f.index == index)
            return &f;
    return nullptr;
}

void Instrument::SendRaw(const std::string &bytes)
{
    if (hungUp_)
        return;
    if (opt_.lineDelayMs)
        link_.pause(opt_.lineDelayMs);
    if (opt_.baud)
        link_.pause((unsigned)(bytes.size() * 10 * 1000 / opt_.baud));
    link_.send(bytes);
}

void Instrument::SendLine(const std::string &line) { SendRaw(line + "\n"); }

void Instrument::Hangup()
{
    hungUp_ = true;
    done_ = true;
    link_.hangup();
}

void Instrument::GoSilent()
{
    state_ = State::Silent;
    ResetUpload();
}

bool Instrument::Answer(Phase phase, unsigned long index, const std::string &normal)
{
    const Fault *f = FindFault(phase, index);
    if (!f) {
        SendLine(normal);
        return true;
    }
    const std::string &t = f->text;
    switch (f->kind) {
    case FaultKind::Refuse:
        SendLine("-ERR " + (t.empty() ? std::string(kDefaultRefusal) : t));
        return false;
    case FaultKind::Wait:
        SendLine("-ERR Wait");
        return false;
    case FaultKind::Stop:
        SendLine("+STOP");
        return true;
    case FaultKind::Text:
        SendLine("+OK " + (t.empty() ? std::string("done") : t));
        return true;
    case FaultKind::Silent:
        GoSilent();
        return false;
    case FaultKind::Hangup:
        Hangup();
        return false;
    case FaultKind::Garbage:
        SendLine(t.empty() ? std::string("?garbage~*") : t);
        return false;
    case FaultKind::Long:
        SendLine(std::string(5000, 'x'));
        return false;
    case FaultKind::Nul:
        SendRaw(std::string("\0\0\0\n", 4));
        return false;
    case FaultKind::Soh:
        SendLine("-ERR first line\x01second line\x01third line");
        return false;
    case FaultKind::Printf:
        SendLine("-ERR %s%n%x%s%n%p");
        return false;
    case FaultKind::Cr:
        SendRaw(normal + "\r");
        return false;
    case FaultKind::Retry:
        // Where a phase can take the line again, it handles the retry before
        // calling here; anywhere else the host meets it as a refusal.
        SendLine(RetryLine(t));
        return false;
    case FaultKind::Hold:
        if (link_.hold)
            link_.hold();
        SendLine(normal);
        return true;
    case FaultKind::BadSum:
    case FaultKind::Dup:
    case FaultKind::Cut:
    case FaultKind::Skip:
    case FaultKind::RetryAll:
        // Handled where the phase knows what to repeat.
        SendLine(normal);
        return true;
    }
    return true;
}

void Instrument::ResetUpload()
{
    if (upload_) {
        MdlFirmwareRelease(upload_);
        delete upload_;
        upload_ = nullptr;
    }
    retryPending_.clear();
}

std::string Instrument::PositiveAck() const
{
    return opt_.ackText.empty() ? "+OK" : "+OK " + opt_.ackText;
}

void Instrument::OnLine(const std::string &line)
{
    // After "MIRDEL DONE" the instrument still serves: only --once ends it.
    if (hungUp_)
        return;
    // The instrument starts over whenever the host asks for update mode.
    if (line == ":DIAG:UPDATE") {
        OnHandshake();
        return;
    }
    switch (state_) {
    case State::Idle:
    case State::Silent:
        return;
    case State::WaitJob:
        OnJobLine(line);
        return;
    case State::Records:
        if (line == ".")
            OnEndMark();
        else if (line == ". STOPPED" || line.rfind("-ERR", 0) == 0) {
            ResetUpload();
            state_ = State::Idle;
        } else
            OnRecord(line);
        return;
    case State::ReadbackWait:
        OnReadbackAnswer(line);
        return;
    }
}

void Instrument::OnHandshake()
{
    ResetUpload();
    retryAll_ = nullptr;
    readbackLength_ = readbackRecords_ = 0;
    state_ = State::Idle;
    if (Answer(Phase::Handshake, ++handshakes_, "+OK"))
        state_ = State::WaitJob;
}

bool Instrument::AnswerJob(Phase phase, unsigned long &counter, const std::string &line)
{
    // A job line sent again after our "-RETRY" is the same job, not a new one.
    bool resent = !retryPending_.empty() && line == retryPending_;
    retryPending_.clear();
    if (resent) {
        SendLine(PositiveAck());
        return true;
    }
    unsigned long n = ++counter;
    const Fault *f = FindFault(phase, n);
    if (f && f->kind == FaultKind::Retry) {
        SendLine(RetryLine(f->text));
        retryPending_ = line;
        return false;
    }
    if (!Answer(phase, n, PositiveAck())) {
        if (state_ != State::Silent)
            state_ = State::Idle;
        return false;
    }
    return true;
}

void Instrument::OnJobLine(const std::string &line)
{
    if (line == "MIRDEL") {
        if (!AnswerJob(Phase::Job, jobs_, line))
            return;
        ResetUpload();
        upload_ = new Firmware();
        std::memset(upload_, 0, sizeof *upload_);
        state_ = State::Records;
        return;
    }
    if (line == "MIRDEL DONE") {
        if (!AnswerJob(Phase::Finish, finishes_, line))
            return;
        state_ = State::Idle;
        done_ = true;
        return;
    }
    unsigned long address;
    long length;
    int used = 0;
    if (std::sscanf(line.c_str(), "MIRDEL -r %lu:%ld%n", &address, &length, &used) == 2 &&
        (size_t)used == line.size() && length >= 0) {
        if (!AnswerJob(Phase::ReadJob, readJobs_, line))
            return;
        StartReadback((uint32_t)address, length);
        return;
    }
    SendLine("-ERR unknown job '" + line + "'");
    state_ = State::Idle;
}

void Instrument::OnRecord(const std::string &line)
{
    // A record sent again after our "-RETRY" is the same record, not a new one.
    bool resent = !retryPending_.empty() && line == retryPending_;
    retryPending_.clear();
    unsigned long n = resent ? records_ : ++records_;
    const Fault *f = resent ? nullptr : FindFault(Phase::Record, n);
    if (f && f->kind == FaultKind::RetryAll)
        retryAll_ = f;
    if (retryAll_) {
        SendLine(RetryLine(retryAll_->text));
        retryPending_ = line;
        return;
    }
    if (f && f->kind == FaultKind::Retry) {
        SendLine(f->text.empty() ? std::string("-RETRY") : "-RETRY " + f->text);
        retryPending_ = line;
        return;
    }
    unsigned sum = MdlChecksum(line.c_str());
    if ((sum >> 8) != (sum & 0xFF)) {
        SendLine("-ERR '" + line + "': incorrect checksum");
        ResetUpload();
        state_ = State::Idle;
        return;
    }
    const char *message = nullptr;
    if (MdlDecodeLine(line.c_str(), upload_, &message) == 3) {
        SendLine(std::string("-ERR ") + (message ? message : "bad record"));
        ResetUpload();
        state_ = State::Idle;
        return;
    }
    std::string ack = PositiveAck();
    if (resent) {
        SendLine(ack);
        return;
    }
    if (!Answer(Phase::Record, n, ack) && state_ == State::Records) {
        ResetUpload();
        state_ = State::Idle;
    }
}

void Instrument::OnEndMark()
{
    unsigned long mark = ++endMarks_;
    const Fault *f = FindFault(Phase::End, mark);
    if (f && f->kind == FaultKind::Silent) {
        GoSilent();
        return;
    }
    if (f && f->kind == FaultKind::Hangup) {
        Hangup();
        return;
    }
    if (f && f->kind == FaultKind::Hold) {
        // Held before the flash writing, which then goes on as normal.
        if (link_.hold)
            link_.hold();
        f = nullptr;
    }
    // Write the upload into flash, then report the writing in steps.
    uint64_t total = 0;
    for (int i = 0; i < upload_->imageCount; ++i) {
        const FirmwareImage &img = upload_->images[i];
        for (int s = 0; s < img.segmentCount; ++s) {
            const FirmwareSegment &seg = img.segments[s];
            flash_.Write(MdlFlashAddress(&img, &seg), seg.data, seg.size);
            total += seg.size;
        }
    }
    ResetUpload();
    state_ = State::Idle;
    if (f) {
        // Any other fault strikes the first indication.
        Answer(Phase::End, mark, "+OK .");
        return;
    }
    uint64_t left = total;
    while (left > 0) {
        unsigned step = left < opt_.flashStep ? (unsigned)left : opt_.flashStep;
        left -= step;
        if (opt_.flashDelayMs)
            link_.pause(opt_.flashDelayMs);
        if (!Answer(Phase::Flash, ++indications_, "+OK " + std::to_string(step)))
            return;
        if (hungUp_)
            return;
    }
    if (opt_.flashDelayMs)
        link_.pause(opt_.flashDelayMs);
    Answer(Phase::Flash, ++indications_, "+OK .");
}

void Instrument::Preload(const ::Firmware &firmware)
{
    for (int i = 0; i < firmware.imageCount; ++i) {
        const FirmwareImage &img = firmware.images[i];
        for (int s = 0; s < img.segmentCount; ++s)
            flash_.Write(MdlFlashAddress(&img, &img.segments[s]), img.segments[s].data,
                         img.segments[s].size);
    }
}

void Instrument::StartReadback(uint32_t address, long length)
{
    if (!corrupted_ && opt_.corruptAddress >= 0) {
        flash_.Flip((uint32_t)opt_.corruptAddress);
        corrupted_ = true;
    }
    readbackAddress_ = address;
    readbackLength_ = (uint64_t)length;
    readbackRecords_ = (readbackLength_ + opt_.readbackBytes - 1) / opt_.readbackBytes;
    streamPos_ = 0;
    SendReadbackLine(true);
}

size_t Instrument::StreamSize() const { return (size_t)readbackRecords_ + 3; }

std::string Instrument::StreamLine(size_t pos) const
{
    if (pos == 0)
        return "S0030000FC";
    if (pos <= readbackRecords_) {
        uint64_t offset = (uint64_t)(pos - 1) * opt_.readbackBytes;
        uint64_t n = opt_.readbackBytes;
        if (!opt_.readbackFull && readbackLength_ - offset < n)
            n = readbackLength_ - offset;
        uint32_t a = readbackAddress_ + (uint32_t)offset;
        uint8_t buf[256];
        for (uint64_t i = 0; i < n; ++i)
            buf[i] = flash_.Read(a + (uint32_t)i);
        uint32_t label = (opt_.readbackRelative ? (uint32_t)offset : a) + opt_.readbackShift;
        return MakeRecord('3', label, 4, buf, (size_t)n);
    }
    if (pos == readbackRecords_ + 1)
        return MakeRecord('7', 0, 4, nullptr, 0);
    return ".";
}

void Instrument::SendReadbackLine(bool fresh)
{
    const Fault *f = nullptr;
    unsigned long n = 0;
    if (fresh) {
        n = ++readbackLines_;
        f = FindFault(Phase::Readback, n);
        // The stream goes on past a line left out, or ends in its place.
        if (f && f->kind == FaultKind::Skip && streamPos_ + 1 < StreamSize())
            ++streamPos_;
        else if (f && f->kind == FaultKind::Cut && streamPos_ <= readbackRecords_)
            streamPos_ = (size_t)readbackRecords_ + 1;
    }
    const std::string line = StreamLine(streamPos_);
    bool last = streamPos_ + 1 == StreamSize();
    if (fresh) {
        badSumLeft_ = 0;
        dupPending_ = false;
        if (f && f->kind == FaultKind::BadSum) {
            badSumLeft_ = f->text.empty() ? 1 : (unsigned)std::strtoul(f->text.c_str(), nullptr, 10);
        } else if (f && f->kind == FaultKind::Dup) {
            dupPending_ = true;
        } else if (f && f->kind != FaultKind::Retry && f->kind != FaultKind::Skip &&
                   f->kind != FaultKind::Cut) {
            // The line is replaced by the fault; the stream goes on only if
            // the host answers it (a positive answer moves to the next line).
            Answer(Phase::Readback, n, line);
            if (!hungUp_ && state_ != State::Silent)
                state_ = last ? State::Idle : State::ReadbackWait;
            return;
        }
    }
    if (badSumLeft_) {
        std::string bad = line;
        // Spoil the checksum digits.
        bad[bad.size() - 1] = bad[bad.size() - 1] == '0' ? '1' : '0';
        SendLine(bad);
        state_ = State::ReadbackWait;
        return;
    }
    SendLine(line);
    state_ = last ? State::Idle : State::ReadbackWait;
}

void Instrument::OnReadbackAnswer(const std::string &line)
{
    if (line.rfind("-RETRY", 0) == 0) {
        if (badSumLeft_)
            --badSumLeft_;
        SendReadbackLine(false);
        return;
    }
    // "-ERR ...", anything else without a sign, or "+STOP": the host ends
    // this read-back.
    if (line.empty() || line[0] != '+' || (line.size() > 1 && line[1] == 'S')) {
        state_ = State::Idle;
        return;
    }
    badSumLeft_ = 0;
    if (dupPending_) {
        // Send the same record once more, as if our side missed the answer.
        dupPending_ = false;
        SendLine(StreamLine(streamPos_));
        state_ = State::ReadbackWait;
        return;
    }
    ++streamPos_;
    if (streamPos_ >= StreamSize()) {
        state_ = State::Idle;
        return;
    }
    SendReadbackLine(true);
}

void Instrument::OnAnswerTimeout() { state_ = State::Idle; }

} // namespace sim
