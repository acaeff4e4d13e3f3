// Heap wrappers: every module allocates and releases through these, so the
// whole program shares one way of doing it.
#include "platform/memalloc.h"

#include <cstdlib>
#include <cstring>

void *_mem_malloc(size_t size)
{
    // malloc(0) may answer null, which a caller would take for a failure.
    return malloc(size ? size : 1);
}

void *_mem_calloc(size_t size)
{
    return calloc(1, size ? size : 1);
}

void *_mem_realloc(void *block, size_t size)
{
    // realloc(block, 0) may free the block and answer null; the caller would
    // then keep a pointer it believes still valid. Ask for one byte instead.
    return realloc(block, size ? size : 1);
}

void *_mem_free(void *block)
{
    free(block);
    return nullptr;
}

char *_mem_strdup_with(const char *text, void *(*alloc)(size_t))
{
    if (!text)
        return nullptr;
    size_t len = strlen(text);
    char *copy = static_cast<char *>(alloc(len + 1));
    if (copy)
        memcpy(copy, text, len + 1);
    return copy;
}

char *_mem_strdup(const char *text)
{
    return _mem_strdup_with(text, _mem_malloc);
}
