#include "core/cmdline.h"

#include <cstdio>
#include <cstring>

static bool cmdline_is_blank(char c)
{
    return c == ' ' || c == '\t';
}

static char cmdline_lower(char c)
{
    // ASCII only: the name rule must not depend on the user's locale.
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

// Length of text, looking at no more than limit + 1 characters.
static size_t cmdline_bounded_length(const char *text, size_t limit)
{
    size_t n = 0;
    while (n <= limit && text[n] != '\0')
        n++;
    return n;
}

int CmdLineSplit(char *text, char **words, int maxWords)
{
    int count = 0;
    char *p = text;
    for (;;) {
        while (cmdline_is_blank(*p))
            p++;
        if (*p == '\0')
            break;
        char *start;
        char *end; // null: the word runs to the end of the text
        if (*p == '"') {
            start = p + 1;
            end = strchr(start, '"');
        } else {
            start = p;
            end = start;
            while (*end != '\0' && !cmdline_is_blank(*end))
                end++;
            if (*end == '\0')
                end = nullptr;
        }
        if (count >= maxWords)
            return -1;
        words[count++] = start;
        if (end == nullptr)
            break;
        *end = '\0';
        p = end + 1;
    }
    return count;
}

static void cmdline_keep_first_word(CmdLine &cl, const char *word)
{
    snprintf(cl.text, sizeof cl.text, "%s", word != nullptr ? word : "");
    cl.argv[0] = cl.text;
    cl.argv[1] = nullptr;
    cl.argc = 1;
}

int CmdLineFromText(CmdLine &cl, const char *text)
{
    if (text == nullptr)
        text = "";
    size_t len = cmdline_bounded_length(text, CMDLINE_SIZE - 1);
    int result = CMDLINE_OK;
    if (len > CMDLINE_SIZE - 1) {
        len = CMDLINE_SIZE - 1;
        result = CMDLINE_TOO_LONG;
    }
    memcpy(cl.text, text, len);
    cl.text[len] = '\0';
    int n = CmdLineSplit(cl.text, cl.argv, CMDLINE_MAX_WORDS);
    if (n < 0) {
        n = CMDLINE_MAX_WORDS;
        if (result == CMDLINE_OK)
            result = CMDLINE_TOO_MANY_WORDS;
    }
    cl.argc = n;
    cl.argv[n] = nullptr;
    return result;
}

int CmdLineFromArgv(CmdLine &cl, int argc, char *const *argv)
{
    if (argc <= 0 || argv == nullptr) {
        cl.text[0] = '\0';
        cl.argv[0] = nullptr;
        cl.argc = 0;
        return CMDLINE_OK;
    }
    if (argc > CMDLINE_MAX_WORDS) {
        cmdline_keep_first_word(cl, argv[0]);
        return CMDLINE_TOO_MANY_WORDS;
    }
    // Counted as the words joined into one text, a blank between two: the
    // copy then needs the same room, a terminator taking each blank's place.
    size_t total = 0;
    for (int i = 0; i < argc; i++) {
        const char *w = argv[i] != nullptr ? argv[i] : "";
        total += cmdline_bounded_length(w, CMDLINE_SIZE - 1) + (i > 0 ? 1 : 0);
        if (total > CMDLINE_SIZE - 1) {
            cmdline_keep_first_word(cl, argv[0]);
            return CMDLINE_TOO_LONG;
        }
    }
    size_t pos = 0;
    for (int i = 0; i < argc; i++) {
        const char *w = argv[i] != nullptr ? argv[i] : "";
        size_t n = strlen(w);
        memcpy(cl.text + pos, w, n + 1);
        cl.argv[i] = cl.text + pos;
        pos += n + 1;
    }
    cl.argv[argc] = nullptr;
    cl.argc = argc;
    return CMDLINE_OK;
}

void CmdLineProgramName(const char *word, char *buf, size_t size)
{
    if (size == 0)
        return;
    const char *name = word != nullptr ? word : "";
    const char *cut = strrchr(name, '/');
    if (cut == nullptr)
        cut = strrchr(name, '\\');
    if (cut != nullptr)
        name = cut + 1;
    size_t n = strlen(name);
    if (n >= 4) {
        const char *ext = name + n - 4;
        if (ext[0] == '.' && cmdline_lower(ext[1]) == 'e' && cmdline_lower(ext[2]) == 'x'
            && cmdline_lower(ext[3]) == 'e')
            n -= 4;
    }
    if (n >= size)
        n = size - 1;
    memcpy(buf, name, n);
    buf[n] = '\0';
}
