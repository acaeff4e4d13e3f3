// The serial port and the message link over it: lines ended by a line feed,
// each optionally answered by an acknowledgement line from the peer.
//
// Results: 1 (or a byte count) on success, 0 on a time-out, -1 on an error
// with the last error code and text set (SioGetError, SioErrStr).
// Time-outs are milliseconds; -1 waits without limit and -2 stands for the
// default time-out given to SioOpen. A time-out abandons the operation by
// re-opening the device, which drops the bytes received and not yet taken.
#pragma once

#include <cstddef>
#include <cstdint>

struct PlatSerialDevice;

// Asked before each resend the peer asks for with "-RETRY": resends counts
// them for the current message (1 on the first), text is the message. False
// gives the message up.
typedef bool (*SioRetryFn)(void *context, uint32_t resends, const char *text);

#define SIO_RX_BUFFER_SIZE 4096
#define SIO_ACK_BUFFER_SIZE 512

// The record of the open port. The module holds one; SioOpen hands out its
// address.
struct SioPort {
    char *deviceName;         // kept for every re-open
    PlatSerialDevice *device; // null after a failed re-open
    char *rxBuffer;           // bytes read and not yet taken by the line reader
    char *rxPos;              // next byte to take
    uint32_t rxBufferSize;    // requested from the line per refill
    uint32_t rxCount;         // bytes from rxPos to the end of the last refill
    uint32_t baudRate;
    int32_t defaultTimeout;
    char *sendBuffer;       // the last message with its line feed, for re-sending
    int32_t sendBufferSize; // bytes allocated for sendBuffer
    SioRetryFn retryFn;     // none: resend for as long as the peer asks
    void *retryContext;
};

// SioMsgSend's result when the retry function gave the message up: it
// stands unacknowledged, and nothing more was sent.
#define SIO_MSG_GIVEN_UP 3

SioPort *SioOpen(const char *deviceName, uint32_t baudRate, int32_t defaultTimeout);
void SioClose(SioPort *port);
int SioRead(SioPort *port, void *buffer, uint32_t length, int32_t timeout);
int SioWrite(SioPort *port, const void *data, uint32_t length, int32_t timeout);

// Copies the last error text to dest (when given, at most size bytes) and
// returns the last error code: -1 a failure of the link, 1 a refusal by the
// peer.
int SioGetError(char *dest, size_t size);
const char *SioErrStr(void);
// True when the last failure since SioOpen was the device's own and says
// that it went away (an unplugged USB adapter), whatever code it had.
bool SioDeviceLost(void);

// Sends text and a line feed; with waitAck, waits for the acknowledgement,
// sending the message again as long as the peer asks for a retry. Returns 1
// when acknowledged (or not waiting), 2 when the acknowledgement asks to
// stop, 0 on a time-out, -1 on an error or a refusal (last error code 1,
// the peer's reason as the text), SIO_MSG_GIVEN_UP when the port's retry
// function gave up a message the peer kept asking for again.
int SioMsgSend(SioPort *port, const char *text, bool waitAck, int32_t timeout);

// The function SioMsgSend asks before every resend (null: none).
void SioSetRetryFn(SioPort *port, SioRetryFn fn, void *context);

// Receives one line into buffer (size at least 2) without its line feed and
// carriage returns; with ack, answers it with "+OK".
int SioMsgRecv(SioPort *port, char *buffer, size_t size, bool ack, int32_t timeout);

// The text to show for a received line; changes the line in place.
char *SioMsgText(char *line);

// Whether the next read first takes what is already queued (tests only).
bool SioReadFirst(void);
