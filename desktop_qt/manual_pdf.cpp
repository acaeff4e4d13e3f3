// mirdel-manual-pdf MANUAL.md OUT.pdf: renders the user manual to PDF at
// build time with Qt alone, so that Help has a PDF on every installation.
// Runs on the offscreen platform; needs no display.
#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <cstdio>

#include "desktop_qt/manual_markdown.h"

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
    QString markdown = ManualToMarkdown(QString::fromUtf8(in.readAll()), &title);

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
