// Shared between the two halves of the sio module: the port and the
// message link.
#pragma once

#include "platform/serial_device.h"

// Capacity of the last error text, terminator included.
#define SIO_ERROR_TEXT_SIZE 1024

// Records the last error code and the printf-formatted text.
void sio_set_error(int code, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Writes the line-error report for status through the console channel.
void sio_line_error_report(const PlatSerialLineStatus *status);
