// Short-lived formatted texts: a ring of ten 241-byte slots per thread.
// A result stays valid until the same thread has called St ten more times.
#pragma once

#define ST_SLOTS 10
#define ST_SLOT_SIZE 241

const char *St(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
