#include "desktop_qt/advinfodlg.h"

#include <QAction>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "core/advinfo.h"
#include "core/advinfo_text.h"
#include "core/flashmap.h"
#include "desktop_qt/branchtree.h"
#include "desktop_qt/flashmapview.h"

static QLineEdit *advinfo_field(QWidget *parent, const char *name)
{
    auto *f = new QLineEdit(parent);
    f->setReadOnly(true);
    f->setObjectName(name);
    f->setMinimumWidth(280);
    return f;
}

CAdvancedInfoDlg::CAdvancedInfoDlg(QWidget *parent) : QDialog(parent)
{
    setWindowTitle("Advanced firmware information");
    // Resizable: the tree takes the room, so long lines can be read whole.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);

    auto *summary = new QGridLayout;
    summary->setHorizontalSpacing(10);
    summary->setVerticalSpacing(2);
    sizeField_ = advinfo_field(this, "sizeField");
    spanField_ = advinfo_field(this, "spanField");
    lowestField_ = advinfo_field(this, "lowestField");
    highestField_ = advinfo_field(this, "highestField");
    const char *labels[] = {ADVINFO_LABEL_SIZE, ADVINFO_LABEL_SPAN, ADVINFO_LABEL_LOWEST,
                            ADVINFO_LABEL_HIGHEST};
    QLineEdit *fields[] = {sizeField_, spanField_, lowestField_, highestField_};
    for (int row = 0; row < 4; row++) {
        summary->addWidget(new QLabel(labels[row], this), row, 0);
        summary->addWidget(fields[row], row, 1);
    }
    summary->setColumnStretch(1, 1);

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    tree = new BranchTree(this);
    tree->setObjectName("tree");
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree->setAllColumnsShowFocus(true);
    // Long lines scroll sideways instead of being cut.
    tree->header()->setStretchLastSection(false);
    tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    tree->setMinimumSize(440, 160);
    tree->installEventFilter(this);

    copy_ = new QAction("&Copy", tree);
    copy_->setObjectName("copyAction");
    copy_->setShortcut(QKeySequence::Copy);
    copy_->setShortcutContext(Qt::WidgetShortcut);
    copyAll_ = new QAction("Copy &all", tree);
    copyAll_->setObjectName("copyAllAction");
    tree->addAction(copy_);
    tree->addAction(copyAll_);
    tree->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy_, &QAction::triggered, this, &CAdvancedInfoDlg::CopySelected);
    connect(copyAll_, &QAction::triggered, this, &CAdvancedInfoDlg::CopyAll);

    map = new FlashMapView(this);
    map->setObjectName("flashMap");
    connect(tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        if (!item)
            map->SetHighlight(-1, -1);
        else if (QTreeWidgetItem *image = item->parent())
            map->SetHighlight(tree->indexOfTopLevelItem(image), image->indexOfChild(item));
        else
            map->SetHighlight(tree->indexOfTopLevelItem(item), -1);
    });

    ok_ = new QPushButton("OK", this);
    ok_->setObjectName("okButton");
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addStretch(1);

    auto *top = new QVBoxLayout(this);
    top->addLayout(summary);
    top->addSpacing(4);
    top->addWidget(line);
    top->addWidget(new QLabel(ADVINFO_LABEL_MAP, this));
    top->addWidget(map);
    top->addWidget(new QLabel(ADVINFO_LABEL_DETAILS, this));
    top->addWidget(tree, 1);
    top->addLayout(buttons);
}

void CAdvancedInfoDlg::CopySelected()
{
    int image = -1, segment = -1;
    QList<QTreeWidgetItem *> selected = tree->selectedItems();
    if (!selected.isEmpty()) {
        QTreeWidgetItem *item = selected.first();
        if (QTreeWidgetItem *parent = item->parent()) {
            image = tree->indexOfTopLevelItem(parent);
            segment = parent->indexOfChild(item);
        } else {
            image = tree->indexOfTopLevelItem(item);
        }
    }
    QGuiApplication::clipboard()->setText(
        QString::fromStdString(AdvInfoCopyText(texts_, image, segment)));
}

void CAdvancedInfoDlg::CopyAll()
{
    QGuiApplication::clipboard()->setText(QString::fromStdString(AdvInfoCopyText(texts_, -1, -1)));
}

bool CAdvancedInfoDlg::eventFilter(QObject *watched, QEvent *event)
{
    // The tree copies only its current line by itself, even when nothing is
    // selected; without an active window the action's shortcut is not seen.
    if (watched == tree && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        CopySelected();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CAdvancedInfoDlg::SetFirmware(const Firmware &firmware)
{
    firmware_ = &firmware;
}

void CAdvancedInfoDlg::showEvent(QShowEvent *event)
{
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

bool CAdvancedInfoDlg::OnInitDialog()
{
    if (!firmware_)
        return true;
    AdvInfoCompose(*firmware_, &texts_);
    const AdvInfoTexts &texts = texts_;

    tree->clear();
    for (const AdvInfoImage &image : texts.images) {
        auto *item = new QTreeWidgetItem(tree, QStringList(QString::fromStdString(image.text)));
        for (const std::string &segment : image.segments)
            new QTreeWidgetItem(item, QStringList(QString::fromStdString(segment)));
    }
    // Nothing expanded and nothing selected: only the images show.
    tree->setCurrentItem(nullptr);

    FlashMap flash;
    FlashMapCompute(*firmware_, &flash);
    map->SetMap(flash, FlashMapTips(flash, texts));

    // Wide enough for the longest line, as far as the screen allows.
    QFontMetrics fm(tree->font());
    int longest = 0;
    for (const AdvInfoImage &image : texts.images) {
        longest = std::max(longest, fm.horizontalAdvance(QString::fromStdString(image.text)));
        for (const std::string &segment : image.segments)
            longest = std::max(longest, tree->indentation() +
                                            fm.horizontalAdvance(QString::fromStdString(segment)));
    }
    int want = longest + tree->indentation() + 2 * tree->frameWidth() + 30 +
               layout()->contentsMargins().left() + layout()->contentsMargins().right();
    if (QScreen *screen = this->screen())
        want = std::min(want, screen->availableGeometry().width() * 9 / 10);
    if (want > width())
        resize(want, height());

    sizeText = texts.sizeText;
    spanText = texts.spanText;
    lowestText = texts.lowestText;
    highestText = texts.highestText;
    sizeField_->setText(QString::fromStdString(sizeText));
    spanField_->setText(QString::fromStdString(spanText));
    lowestField_->setText(QString::fromStdString(lowestText));
    highestField_->setText(QString::fromStdString(highestText));
    for (QLineEdit *f : {sizeField_, spanField_, lowestField_, highestField_})
        f->setCursorPosition(0);
    ok_->setFocus();
    return true;
}
