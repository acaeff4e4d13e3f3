// St: short-lived formatted texts from a per-thread ring of slots.
#include "support/st.h"

#include "platform/memalloc.h"

#include <cstdarg>
#include <cstdio>

namespace
{

const int ST_BLOCK_SIZE = ST_SLOTS * ST_SLOT_SIZE;

// The thread's ring. The block is released when the thread ends: a worker
// thread per upload run would otherwise leave one block behind each time.
struct StRing {
    char *block = nullptr;
    int index = 0;
    bool reported = false;
    ~StRing() { block = static_cast<char *>(_mem_free(block)); }
};

thread_local StRing st_ring;

// Used only when the heap cannot give the block: St must always hand back
// a usable text, and modules below the UI do not end the process.
thread_local char st_reserve[ST_BLOCK_SIZE];

} // namespace

const char *St(const char *fmt, ...)
{
    StRing &ring = st_ring;
    if (!ring.block) {
        ring.block = static_cast<char *>(_mem_malloc(ST_BLOCK_SIZE));
        if (!ring.block && !ring.reported) {
            fprintf(stderr, "%s(): memory allocation error ! (%d bytes)\n", "St", ST_BLOCK_SIZE);
            ring.reported = true;
        }
    }
    char *base = ring.block ? ring.block : st_reserve;

    ring.index = (ring.index + 1) % ST_SLOTS;
    char *slot = base + ring.index * ST_SLOT_SIZE;

    va_list ap;
    va_start(ap, fmt);
    // A longer result is cut to the slot.
    if (vsnprintf(slot, ST_SLOT_SIZE, fmt, ap) < 0)
        slot[0] = '\0';
    va_end(ap);
    return slot;
}
