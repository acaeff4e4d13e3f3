#include <cerrno>
#include <cstring>

#include "firmware/mdl.h"
#include "platform/memalloc.h"

namespace {

bool mdl_line_fill(MdlLineReader *r)
{
    r->pos = 0;
    r->end = std::fread(r->block, 1, MDL_LINE_BLOCK, r->file);
    if (r->end == 0 && std::ferror(r->file))
        r->readErrno = errno ? errno : EIO;
    return r->end > 0;
}

// Blanks, tabs and NUL bytes in a part of a line that is not kept.
void mdl_line_look(const char *p, size_t n, bool *blank, bool *nul)
{
    for (size_t i = 0; i < n; i++) {
        if (p[i] == ' ' || p[i] == '\t')
            *blank = true;
        else if (p[i] == '\0')
            *nul = true;
    }
}

} // namespace

bool MdlLineOpen(MdlLineReader *reader, FILE *file, int lineMax)
{
    std::memset(reader, 0, sizeof *reader);
    reader->file = file;
    reader->lineMax = lineMax;
    reader->block = static_cast<char *>(_mem_malloc(MDL_LINE_BLOCK));
    return reader->block != nullptr;
}

void MdlLineClose(MdlLineReader *reader)
{
    _mem_free(reader->block);
    reader->block = nullptr;
}

int MdlLineRewind(MdlLineReader *reader)
{
    if (std::fseek(reader->file, 0, SEEK_SET) != 0)
        return -1;
    std::clearerr(reader->file);
    reader->pos = reader->end = 0;
    reader->consumed = 0;
    return 0;
}

int MdlLineNext(MdlLineReader *r)
{
    const size_t keep = MDL_RECORD_MAX;
    // A carriage return may stand between the longest line and its line feed.
    const size_t most = r->lineMax < 0 ? SIZE_MAX : static_cast<size_t>(r->lineMax) + 1;
    size_t n = 0;   // characters so far, line feed excluded
    size_t crs = 0; // carriage returns that end them
    bool blank = false, nul = false;
    r->terminated = false;
    for (;;) {
        if (r->pos == r->end && !mdl_line_fill(r)) {
            if (r->readErrno)
                return MDL_LINE_ERROR;
            break;
        }
        const char *start = r->block + r->pos;
        size_t avail = r->end - r->pos;
        const char *lf = static_cast<const char *>(std::memchr(start, '\n', avail));
        size_t take = lf ? static_cast<size_t>(lf - start) : avail;
        size_t kept = n < keep ? (take < keep - n ? take : keep - n) : 0;
        if (kept)
            std::memcpy(r->text + n, start, kept);
        mdl_line_look(start + kept, take - kept, &blank, &nul);
        size_t tail = 0;
        while (tail < take && start[take - 1 - tail] == '\r')
            tail++;
        crs = tail == take ? crs + tail : tail;
        n += take;
        take += lf ? 1 : 0;
        r->pos += take;
        r->consumed += take;
        if (lf) {
            r->terminated = true;
            break;
        }
        if (n > most)
            break;
    }
    if (n == 0 && !r->terminated)
        return MDL_LINE_END;

    size_t len = n - crs;
    size_t held = len < keep ? len : keep;
    r->text[held] = '\0';
    if (std::memchr(r->text, '\0', held))
        nul = true;
    if (nul || n > most || (r->lineMax >= 0 && len > static_cast<size_t>(r->lineMax)))
        r->terminated = false;

    if (len == 0 || r->text[0] == '#' || blank || std::strpbrk(r->text, " \t"))
        return MDL_LINE_SKIPPED;
    return len > keep ? MDL_LINE_TOO_LONG : MDL_LINE_RECORD;
}
