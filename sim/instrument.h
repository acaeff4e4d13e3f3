// The instrument side of the update dialogue, as mirdel-sim plays it: a
// flash model, the handshake, job lines, the record stream, the flash-writing
// indications and the read-back stream, with faults that can be injected at
// any step.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct Firmware;

namespace sim {

// Where in the dialogue a fault strikes. Each phase counts its own events
// over the simulator's whole life, from 1.
enum class Phase {
    Handshake, // reply to the n-th ":DIAG:UPDATE"
    Job,       // acknowledgement of the n-th upload job line "MIRDEL"
    ReadJob,   // acknowledgement of the n-th read-back job line
    Finish,    // acknowledgement of the n-th "MIRDEL DONE"
    Record,    // acknowledgement of the n-th record of an upload
    End,       // the n-th end mark "."
    Flash,     // the n-th flash-writing indication sent
    Readback,  // the n-th line sent in a read-back stream
};

enum class FaultKind {
    Refuse,  // "-ERR " and a text
    Retry,   // "-RETRY" (and a text), then the line is taken normally
    Wait,    // "-ERR Wait" (the instrument is busy)
    Stop,    // "+STOP"
    Text,    // "+OK " and a text
    Silent,  // no answer, and none until the next ":DIAG:UPDATE"
    Hangup,  // the device vanishes
    Garbage, // a line with neither sign
    Long,    // a line longer than any buffer
    Nul,     // a line of NUL bytes
    Soh,     // a refusal with SOH line breaks in its reason
    Printf,  // a refusal made of printf directives
    Cr,      // the normal answer ended by a carriage return only
    BadSum,  // read-back only: the record with a wrong checksum (text: how often)
    Dup,     // read-back only: the record sent twice
    Hold,    // the normal answer, sent only once the simulator is released
    Cut,      // read-back only: S7 and "." in place of the line
    Skip,     // read-back only: the line left out
    RetryAll, // "-RETRY" to this line and every one after it
};

struct Fault {
    Phase phase;
    unsigned long index; // 1-based
    FaultKind kind;
    std::string text;
};

// Parses "PHASE:N:KIND[:TEXT]"; false with a reason in err.
bool ParseFault(const std::string &text, Fault &out, std::string &err);

struct Options {
    std::vector<Fault> faults;
    unsigned flashStep = 4096;     // bytes per "+OK n" indication
    unsigned flashDelayMs = 0;     // pause before each indication
    unsigned readbackBytes = 32;   // data bytes per read-back S3 record
    bool readbackFull = false;     // the last read-back record runs past the range
    uint32_t readbackShift = 0;    // added to every read-back record's address
    bool readbackRelative = false; // read-back addresses counted from the range's start
    long corruptAddress = -1;      // flash byte flipped before the first read-back
    std::string ackText;           // positive acknowledgements carry it
    unsigned lineDelayMs = 0;      // pause before every line sent
    unsigned long baud = 0;        // pace sent lines as such a wire (0: no pacing)
    unsigned answerTimeoutMs = 10000; // how long a read-back line waits for its answer
};

// The flash memory: unwritten bytes read back as 0xFF.
class Flash {
public:
    void Write(uint32_t address, const uint8_t *data, size_t n);
    uint8_t Read(uint32_t address) const;
    void Flip(uint32_t address);
    // The start addresses of the pages written so far, in order.
    std::vector<uint32_t> Pages() const;

    static constexpr uint32_t kPage = 4096;

private:
    std::map<uint32_t, std::array<uint8_t, kPage>> pages_;
};

// What the instrument does with the link. The simulator's main loop
// provides these; tests of the instrument may provide their own.
struct Link {
    std::function<void(const std::string &bytes)> send; // raw bytes, line end included
    std::function<void()> hangup;
    std::function<void(unsigned ms)> pause;
    // Blocks until whoever drives the simulator releases it (a held answer);
    // absent: nothing is held.
    std::function<void()> hold;
};

class Instrument {
public:
    Instrument(const Options &options, Link link);
    ~Instrument();

    // One line from the host, its line feed removed and carriage returns
    // dropped.
    void OnLine(const std::string &line);
    // Called when an answer awaited for a read-back line did not come.
    void OnAnswerTimeout();

    // Writes every segment of firmware into flash at its flash address, as
    // if it had been uploaded before.
    void Preload(const ::Firmware &firmware);

    bool AwaitingAnswer() const { return state_ == State::ReadbackWait; }
    bool SessionDone() const { return done_; }
    bool HungUp() const { return hungUp_; }
    const Flash &FlashMemory() const { return flash_; }

private:
    enum class State { Idle, WaitJob, Records, Silent, ReadbackWait };

    const Fault *FindFault(Phase phase, unsigned long index) const;
    std::string PositiveAck() const;
    // Sends the normal answer, or what the fault for (phase, index) makes of
    // it. Returns false when the fault ended the normal course (silence,
    // hang-up, refusal).
    bool Answer(Phase phase, unsigned long index, const std::string &normal);
    void SendLine(const std::string &line);
    void SendRaw(const std::string &bytes);
    void Hangup();
    void GoSilent();

    void OnHandshake();
    void OnJobLine(const std::string &line);
    // Answers a job line; false when it was not taken (the state is then
    // set: still waiting for the job after a retry, otherwise idle or silent).
    bool AnswerJob(Phase phase, unsigned long &counter, const std::string &line);
    void OnRecord(const std::string &line);
    void OnEndMark();
    void StartReadback(uint32_t address, long length);
    size_t StreamSize() const;
    std::string StreamLine(size_t pos) const;
    // fresh: the first send of the current stream line, which counts as a
    // new read-back line; resends after "-RETRY" do not.
    void SendReadbackLine(bool fresh);
    void OnReadbackAnswer(const std::string &line);
    void ResetUpload();

    Options opt_;
    Link link_;
    Flash flash_;
    State state_ = State::Idle;
    bool done_ = false;
    bool hungUp_ = false;
    bool corrupted_ = false;

    unsigned long handshakes_ = 0, jobs_ = 0, readJobs_ = 0, finishes_ = 0;
    unsigned long records_ = 0, endMarks_ = 0, indications_ = 0, readbackLines_ = 0;

    ::Firmware *upload_ = nullptr; // the model of the upload in progress
    std::string retryPending_;            // a line answered "-RETRY" once already
    const Fault *retryAll_ = nullptr;     // from it on, every record is asked for again

    // The read-back stream is made line by line as it goes out, so that a
    // large range costs no memory: S0, the S3 records, S7, then ".".
    uint32_t readbackAddress_ = 0;
    uint64_t readbackLength_ = 0;
    uint64_t readbackRecords_ = 0;
    size_t streamPos_ = 0;
    unsigned badSumLeft_ = 0;        // wrong checksums still to send for this line
    bool dupPending_ = false;
};

// Builds an S-record line (type '0'..'9') with its count and checksum.
std::string MakeRecord(char type, uint32_t address, int addressBytes, const uint8_t *data,
                       size_t n);

} // namespace sim
