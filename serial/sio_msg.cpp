// The message link: text lines over the serial port, each optionally
// confirmed by an acknowledgement line from the peer.
#include "serial/sio.h"

#include "platform/memalloc.h"
#include "serial/sio_internal.h"
#include "support/log.h"

#include <climits>
#include <cstring>

namespace
{

int sio_fill(SioPort *port, int32_t timeout)
{
    int r = SioRead(port, port->rxBuffer, port->rxBufferSize, timeout);
    if (r > 0) {
        port->rxCount = (uint32_t)r;
        port->rxPos = port->rxBuffer;
    }
    return r;
}

int sio_getc(SioPort *port, char *c, int32_t timeout)
{
    if (port->rxCount == 0) {
        int r = sio_fill(port, timeout);
        if (r <= 0)
            return r;
    }
    *c = *port->rxPos++;
    port->rxCount--;
    return 1;
}

// Reads up to n bytes of one line, the line feed included, carriage returns
// dropped. *stored counts what was kept: a line may carry NUL bytes.
int sio_read_line(SioPort *port, char *buffer, size_t n, int32_t timeout, size_t *stored)
{
    size_t count = 0;
    while (count < n) {
        char c;
        int r = sio_getc(port, &c, timeout);
        if (r != 1)
            return r;
        if (c == '\r')
            continue;
        buffer[count++] = c;
        if (c == '\n')
            break;
    }
    buffer[count] = '\0';
    *stored = count;
    return 1;
}

int sio_write_string(SioPort *port, const char *text, int32_t timeout)
{
    size_t length = strlen(text);
    if (length == 0)
        return 1;
    int r = SioWrite(port, text, (uint32_t)length, timeout);
    return r == (int)length ? 1 : r;
}

void sio_soh_to_lf(char *text)
{
    for (char *p = text; *p; p++) {
        if (*p == '\x01')
            *p = '\n';
    }
}

} // namespace

int SioMsgRecv(SioPort *port, char *buffer, size_t size, bool ack, int32_t timeout)
{
    if (!port || !buffer || size < 2) {
        sio_set_error(-1, "SioMsgRecv(): no port or a buffer of %llu bytes !",
                      (unsigned long long)size);
        return -1;
    }
    size_t stored = 0;
    int r = sio_read_line(port, buffer, size - 1, timeout, &stored);
    if (r != 1)
        return r;
    if (stored == 0 || buffer[stored - 1] != '\n') {
        // The rest of the line stays queued and comes back as the next one.
        // A long line is quoted only as far as the reason still fits.
        const char tail[] = "' not terminated with end of line character !";
        const int quoted = SIO_ERROR_TEXT_SIZE - 2 - (int)(sizeof tail - 1);
        sio_set_error(-1, "'%.*s%s", quoted, buffer, tail);
        return -1;
    }
    buffer[stored - 1] = '\0';
    if (ack) {
        r = sio_write_string(port, "+OK\n", timeout);
        if (r != 1)
            return r;
    }
    return 1;
}

int SioMsgSend(SioPort *port, const char *text, bool waitAck, int32_t timeout)
{
    if (!port || !text) {
        sio_set_error(-1, "SioMsgSend(): no port or no message !");
        return -1;
    }
    size_t length = strlen(text);
    if (length >= INT32_MAX) {
        sio_set_error(-1, "SioMsgSend(): message of %llu bytes too long !",
                      (unsigned long long)length);
        return -1;
    }
    int32_t total = (int32_t)length + 1;
    if (port->sendBufferSize < total) {
        char *grown = (char *)_mem_realloc(port->sendBuffer, (size_t)total);
        if (!grown) {
            // Recorded, so that an earlier refusal's code 1 is not taken for
            // the reason of this failure.
            sio_set_error(-1, "_mem_realloc(%ld) failed !", (long)total);
            return -1;
        }
        port->sendBuffer = grown;
        port->sendBufferSize = total;
    }
    memcpy(port->sendBuffer, text, length);
    port->sendBuffer[length] = '\n';

    int r = SioWrite(port, port->sendBuffer, (uint32_t)total, timeout);
    if (r != total)
        return r;
    if (!waitAck)
        return 1;

    for (uint32_t resends = 1;; resends++) {
        char line[SIO_ACK_BUFFER_SIZE];
        r = SioMsgRecv(port, line, sizeof line, false, timeout);
        if (r != 1)
            return r;

        if (line[0] == '+') {
            if (line[1] == 'S')
                return 2;
            if (strchr(line, ' '))
                LogConsole("%s", line);
            return 1;
        }
        if (line[0] != '-') {
            sio_set_error(-1, "'%s': unrecognized acknowledgement !", line);
            return -1;
        }

        sio_soh_to_lf(line);
        LogConsole("%s", line);
        const char *reason = "";
        char *blank = strchr(line, ' ');
        if (blank) {
            *blank = '\0';
            reason = blank + 1;
        }
        if (strcmp(line + 1, "RETRY") != 0) {
            sio_set_error(1, "%s", reason);
            return -1;
        }
        // The peer decides how often: every retry re-sends the same bytes,
        // unless the caller gives up (a user's stop must not wait for a
        // peer that never stops asking).
        if (port->retryFn && !port->retryFn(port->retryContext, resends, text))
            return SIO_MSG_GIVEN_UP;
        r = SioWrite(port, port->sendBuffer, (uint32_t)total, timeout);
        if (r != total)
            return r;
    }
}

void SioSetRetryFn(SioPort *port, SioRetryFn fn, void *context)
{
    port->retryFn = fn;
    port->retryContext = context;
}

char *SioMsgText(char *line)
{
    sio_soh_to_lf(line);
    if ((line[0] == '+' || line[0] == '-') && !(line[1] >= '0' && line[1] <= '9')) {
        char *blank = strchr(line, ' ');
        return blank ? blank + 1 : line;
    }
    return line;
}
