// help2roff [--date DATE] [--sections FILE] PROGRAM NAME SUMMARY OUT:
// writes the manual page of a program from what it prints for --help and
// --version, so that the page and the program's own help never differ.
//
// The help text follows a few habits that become the page's structure:
// "Usage:" lines first (the synopsis), then the description; a line at the
// left margin ending in ':' is a heading ("Exit status:" is always a
// section of its own); a later "Usage:" line starts a command's subsection;
// a line indented by two spaces is a term and its description, separated by
// two or more spaces; lines indented deeper continue the description.
//
// The sections FILE holds what a program's help has no room for (files,
// permissions, related pages), written in the same habits; its "See also:"
// section goes last, after the copyright, as manual pages have it. DATE is
// the page's date in its title line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static std::string run(const std::string &program, const char *option)
{
    std::string command = "'" + program + "' " + option;
    FILE *p = popen(command.c_str(), "r");
    std::string text;
    if (!p)
        return text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    return pclose(p) == 0 ? text : std::string();
}

static bool readFile(const std::string &name, std::string &text)
{
    FILE *f = std::fopen(name.c_str(), "r");
    if (!f)
        return false;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

static std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

// Text as roff reads it: backslashes and minus signs escaped, and no line
// that begins with a control character.
static std::string roff(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\''))
        out = "\\&" + out;
    return out;
}

static size_t indent(const std::string &line)
{
    size_t n = line.find_first_not_of(' ');
    return n == std::string::npos ? line.size() : n;
}

static std::string upper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return s;
}

// The page's body from help text lines: headings, items, tables and
// paragraphs.
static std::string describe(const std::vector<std::string> &text)
{
    std::string page;
    bool inCommand = false; // inside a command's subsection
    bool inItem = false;    // after a term: indented lines continue it
    bool newParagraph = false;
    bool inTable = false; // a table inside an item, kept line by line
    for (const std::string &line : text) {
        size_t in = indent(line);
        bool tableLine = in > 2 && (inTable || line.find("  ", in) != std::string::npos);
        if (inTable && !tableLine) {
            page += ".fi\n";
            inTable = false;
        }
        if (in == line.size()) {
            newParagraph = true;
            inItem = false;
            continue;
        }
        std::string body = line.substr(in);
        if (tableLine) {
            if (!inTable)
                page += ".nf\n";
            inTable = true;
            page += roff(line.substr(4)) + "\n";
        } else if (in == 0 && body.rfind("Usage: ", 0) == 0) {
            page += ".SS \"" + roff(body.substr(7)) + "\"\n";
            inCommand = true;
        } else if (in == 0 && body.back() == ':' && body.size() < 60) {
            std::string heading = body.substr(0, body.size() - 1);
            if (!inCommand || heading == "Exit status") {
                page += ".SH " + upper(roff(heading)) + "\n";
                inCommand = false;
            } else {
                page += ".PP\n\\fB" + roff(heading) + "\\fR\n";
            }
        } else if (in == 2) {
            size_t gap = body.find("  ");
            std::string term = gap == std::string::npos ? body : body.substr(0, gap);
            page += ".TP\n\\fB" + roff(term) + "\\fR\n";
            if (gap != std::string::npos)
                page += roff(body.substr(body.find_first_not_of(' ', gap))) + "\n";
            inItem = true;
        } else if (in > 2 && inItem && body.find("  ") == std::string::npos) {
            page += roff(body) + "\n";
        } else if (in > 0) {
            page += ".br\n" + roff(body) + "\n";
        } else {
            if (newParagraph)
                page += ".PP\n";
            page += roff(body) + "\n";
            inItem = false;
        }
        newParagraph = false;
    }
    if (inTable)
        page += ".fi\n";
    return page;
}

int main(int argc, char **argv)
{
    std::string date, sectionsFile;
    int a = 1;
    for (; a + 1 < argc && argv[a][0] == '-'; a += 2) {
        if (std::strcmp(argv[a], "--date") == 0)
            date = argv[a + 1];
        else if (std::strcmp(argv[a], "--sections") == 0)
            sectionsFile = argv[a + 1];
        else
            break;
    }
    if (argc - a != 4) {
        std::fprintf(stderr,
                     "Usage: help2roff [--date DATE] [--sections FILE] PROGRAM NAME SUMMARY OUT\n");
        return 64;
    }
    const char *program = argv[a], *outName = argv[a + 3];
    std::string name = argv[a + 1], summary = argv[a + 2];
    std::vector<std::string> help = lines(run(program, "--help"));
    std::vector<std::string> version = lines(run(program, "--version"));
    if (help.empty() || version.empty() || help[0].rfind("Usage: ", 0) != 0) {
        std::fprintf(stderr, "help2roff: %s gives no usable --help or --version text\n", program);
        return 1;
    }
    std::vector<std::string> sections, seeAlso;
    if (!sectionsFile.empty()) {
        std::string text;
        if (!readFile(sectionsFile, text)) {
            std::fprintf(stderr, "help2roff: cannot read %s\n", sectionsFile.c_str());
            return 1;
        }
        sections = lines(text);
        for (size_t s = 0; s < sections.size(); s++)
            if (sections[s] == "See also:") {
                seeAlso.assign(sections.begin() + (long)s, sections.end());
                sections.resize(s);
                break;
            }
    }

    std::string page;
    page += ".TH " + upper(roff(name)) + " 1 \"" + roff(date) + "\" \"" + roff(version[0]) +
            "\" \"User Commands\"\n";
    page += ".SH NAME\n" + roff(name) + " \\- " + roff(summary) + "\n";
    page += ".SH SYNOPSIS\n";
    size_t i = 0;
    page += ".nf\n" + roff(help[i++].substr(7)) + "\n";
    while (i < help.size() && help[i].rfind("       ", 0) == 0 && indent(help[i]) == 7)
        page += roff(help[i++].substr(7)) + "\n";
    page += ".fi\n.SH DESCRIPTION\n";
    // A help text that goes straight to its commands is described by the
    // summary.
    size_t next = i;
    while (next < help.size() && indent(help[next]) == help[next].size())
        next++;
    if (next < help.size() && help[next].back() == ':' && indent(help[next]) == 0) {
        std::string sentence = summary;
        if (!sentence.empty() && sentence[0] >= 'a' && sentence[0] <= 'z')
            sentence[0] = (char)(sentence[0] - 'a' + 'A');
        page += roff(sentence) + ".\n";
    }

    page += describe(std::vector<std::string>(help.begin() + (long)i, help.end()));
    page += describe(sections);
    page += ".SH COPYRIGHT\n";
    for (size_t v = 1; v < version.size(); v++)
        if (!version[v].empty())
            page += roff(version[v]) + "\n.br\n";
    page += describe(seeAlso);

    FILE *out = std::fopen(outName, "w");
    if (!out || std::fputs(page.c_str(), out) < 0 || std::fclose(out) != 0) {
        std::fprintf(stderr, "help2roff: cannot write %s\n", outName);
        return 1;
    }
    return 0;
}
