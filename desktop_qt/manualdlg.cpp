#include "desktop_qt/manualdlg.h"

#include <QFile>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStringList>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <cerrno>
#include <cstdio>

#include "desktop_qt/manual_markdown.h"
#include "platform/syserr.h"

// The chapters and sections as a list of links, put in front of the first
// chapter. Lines in fenced code blocks are no headings.
static QString manualdlg_with_contents(const QString &markdown)
{
    QStringList lines = markdown.split('\n'), contents;
    int first = -1;
    bool fenced = false;
    for (int i = 1; i < lines.size(); i++) { // line 0 is the title
        const QString &l = lines[i];
        if (l.startsWith("```"))
            fenced = !fenced;
        int level = l.startsWith("# ") ? 1 : l.startsWith("## ") ? 2 : 0;
        if (fenced || level == 0)
            continue;
        if (first < 0)
            first = i;
        QString heading = l.mid(level + 1).trimmed();
        contents << QString(level == 1 ? "- " : "    - ") + "[" + heading + "](#" +
                        ManualAnchor(heading) + ")";
    }
    if (first < 0)
        return markdown;
    contents.prepend("**Contents**\n");
    contents << "";
    for (int i = contents.size() - 1; i >= 0; i--)
        lines.insert(first, contents[i]);
    return lines.join('\n');
}

CManualDlg::CManualDlg(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    view_ = new QTextBrowser(this);
    view_->setObjectName("manualView");
    view_->setOpenExternalLinks(true);
    find_ = new QLineEdit(this);
    find_->setObjectName("findField");
    find_->setPlaceholderText("Find in the manual");
    find_->setClearButtonEnabled(true);
    auto *next = new QPushButton("Find &Next", this);
    next->setObjectName("findNextButton");
    next->setDefault(true); // Enter in the field
    status_ = new QLabel(this);
    status_->setObjectName("findStatus");
    auto *close = new QPushButton("&Close", this);
    close->setAutoDefault(false);

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel("&Find:", this));
    static_cast<QLabel *>(bar->itemAt(0)->widget())->setBuddy(find_);
    bar->addWidget(find_, 1);
    bar->addWidget(next);
    bar->addWidget(status_);
    bar->addStretch();
    bar->addWidget(close);
    auto *top = new QVBoxLayout(this);
    top->addWidget(view_, 1);
    top->addLayout(bar);
    resize(780, 640);

    connect(next, &QPushButton::clicked, this, &CManualDlg::OnFindNext);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(find_, &QLineEdit::textChanged, status_, &QLabel::clear);
    auto *findKey = new QShortcut(QKeySequence::Find, this);
    connect(findKey, &QShortcut::activated, this, [this] {
        find_->setFocus();
        find_->selectAll();
    });
}

bool CManualDlg::LoadFile(const QString &path)
{
    // stdio rather than QFile: its errno gives the box its reason.
    FILE *f = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!f) {
        PlatSetLastErrorFromErrno(errno);
        return false;
    }
    QByteArray bytes;
    char block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        bytes.append(block, static_cast<qsizetype>(n));
    int err = std::ferror(f) ? errno : 0;
    std::fclose(f);
    if (err) {
        PlatSetLastErrorFromErrno(err);
        return false;
    }

    QString title;
    QString markdown = manualdlg_with_contents(ManualToMarkdown(QString::fromUtf8(bytes), &title));
    view_->document()->setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    // Qt's reader names no heading: each gets the anchor the contents
    // link to.
    for (QTextBlock b = view_->document()->begin(); b.isValid(); b = b.next()) {
        if (b.blockFormat().headingLevel() == 0)
            continue;
        QTextCursor c(b);
        c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        QTextCharFormat anchor;
        anchor.setAnchor(true);
        anchor.setAnchorNames({ManualAnchor(b.text())});
        c.mergeCharFormat(anchor);
    }
    setWindowTitle(title.isEmpty() ? QString("User manual") : title);
    return true;
}

bool CManualDlg::Find(const QString &text)
{
    bool found = !text.isEmpty() && view_->find(text);
    if (!found && !text.isEmpty()) {
        view_->moveCursor(QTextCursor::Start);
        found = view_->find(text);
    }
    status_->setText(found || text.isEmpty() ? QString() : QString("Not found"));
    return found;
}

void CManualDlg::OnFindNext()
{
    Find(find_->text());
}
