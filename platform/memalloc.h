// Heap wrappers shared by every module. None of them writes a message.
#pragma once

#include <cstddef>

void *_mem_malloc(size_t size);
void *_mem_calloc(size_t size);
void *_mem_realloc(void *block, size_t size);
void *_mem_free(void *block); // always returns null
char *_mem_strdup(const char *text);
// The copy of _mem_strdup with another allocation operation.
char *_mem_strdup_with(const char *text, void *(*alloc)(size_t));
