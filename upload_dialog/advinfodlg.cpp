#include "upload_dialog/advinfodlg.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "upload_dialog/branchtree.h"
#include "upload_dialog/core/advinfo.h"

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
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

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
    top->addWidget(new QLabel(ADVINFO_LABEL_DETAILS, this));
    top->addWidget(tree, 1);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);
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
    AdvInfoTexts texts;
    AdvInfoCompose(*firmware_, &texts);

    tree->clear();
    for (const AdvInfoImage &image : texts.images) {
        auto *item = new QTreeWidgetItem(tree, QStringList(QString::fromStdString(image.text)));
        for (const std::string &segment : image.segments)
            new QTreeWidgetItem(item, QStringList(QString::fromStdString(segment)));
    }
    // Nothing expanded and nothing selected: only the images show.
    tree->setCurrentItem(nullptr);

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
