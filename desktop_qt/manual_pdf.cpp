// mirdel-manual-pdf MANUAL.md OUT.pdf: renders the user manual to PDF at
// build time with Qt alone, so that Help has a PDF on every installation.
// Runs on the offscreen platform; needs no display.
//
// The manual is written for a Markdown reader that knows a title block
// ("% Title" lines) and definition lists (a term, then ":   text"); Qt's
// reader knows neither, so they become a heading and indented quotes here.
#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QStringList>
#include <QTextDocument>

#include <cstdio>

static QString manual_to_markdown(const QString &text, QString *title)
{
    QStringList out;
    bool head = true, definition = false;
    for (const QString &line : text.split('\n')) {
        if (head && line.startsWith("% ")) {
            if (title->isEmpty()) {
                *title = line.mid(2).trimmed();
                out << "# " + *title;
            } else {
                out << "*" + line.mid(2).trimmed() + "*";
            }
            out << "";
            continue;
        }
        head = false;
        if (line.startsWith(":   ")) {
            definition = true;
            out << "> " + line.mid(4);
        } else if (definition && line.startsWith("    ")) {
            out << "> " + line.mid(4);
        } else {
            definition = false;
            out << line;
        }
    }
    return out.join('\n');
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "Usage: mirdel-manual-pdf MANUAL.md OUT.pdf\n");
        return 64;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "mirdel-manual-pdf: %s: %s\n", argv[1], qPrintable(in.errorString()));
        return 1;
    }
    QString title;
    QString markdown = manual_to_markdown(QString::fromUtf8(in.readAll()), &title);

    QPdfWriter writer(QString::fromLocal8Bit(argv[2]));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    // print() keeps margins of 2 cm of its own.
    writer.setTitle(title);
    writer.setCreator("Mirdel");

    QTextDocument doc;
    QFont font = doc.defaultFont();
    font.setPointSize(10);
    doc.setDefaultFont(font);
    doc.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    doc.print(&writer);
    // QPdfWriter reports no write error: check that a PDF is there.
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::ReadOnly) || !out.read(5).startsWith("%PDF-")) {
        std::fprintf(stderr, "mirdel-manual-pdf: %s: no PDF written\n", argv[2]);
        return 1;
    }
    return 0;
}
