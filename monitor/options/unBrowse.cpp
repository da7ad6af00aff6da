#include "unBrowse.h"

#include <QApplication>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>

#include "dialogs/DialogSeam.h"
#include "settings/unLanguage.h"

namespace {
std::string GChosenPath;  // what the last OK took
}

TfrmBrowse::TfrmBrowse(QWidget *owner) : QDialog(owner) {
    setObjectName("frmBrowse");
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle("Tarnwick / Browse...");
    setFixedSize(272, 320);

    Model = new QFileSystemModel(this);
    // Folders only, hidden ones too (a mail folder may well be one); no
    // files, no "." and "..".
    Model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    Model->setReadOnly(true);
    Model->setRootPath(QDir::rootPath());

    ShellTreeView1 = new QTreeView(this);
    ShellTreeView1->setObjectName("ShellTreeView1");
    ShellTreeView1->setModel(Model);
    // The root folder itself is not a row: its folders are the top level.
    ShellTreeView1->setRootIndex(Model->index(QDir::rootPath()));
    for (int c = 1; c < Model->columnCount(); ++c) ShellTreeView1->hideColumn(c);
    ShellTreeView1->header()->hide();
    ShellTreeView1->setGeometry(8, 8, 256, 268);

    btOk = new QPushButton("OK", this);
    btOk->setObjectName("btOk");
    btOk->setGeometry(50, 286, 80, 26);
    btOk->setDefault(true);
    BitBtn2 = new QPushButton("Cancel", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setGeometry(142, 286, 80, 26);

    connect(btOk, &QPushButton::clicked, this, &TfrmBrowse::btOkClick);
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmBrowse::BitBtn2Click);
    SelectPath(QDir::homePath().toStdString());
}

std::string TfrmBrowse::SelectedPath() const {
    QModelIndex i = ShellTreeView1->currentIndex();
    if (!i.isValid()) return {};
    return Model->filePath(i).toStdString();
}

void TfrmBrowse::SelectPath(const std::string &path) {
    QModelIndex i = Model->index(QString::fromStdString(path));
    if (!i.isValid()) return;
    ShellTreeView1->setCurrentIndex(i);
    ShellTreeView1->scrollTo(i);
}

void TfrmBrowse::btOkClick() {
    GChosenPath = SelectedPath();
    accept();
}

void TfrmBrowse::BitBtn2Click() { reject(); }

void ShowBrowseDialog(int Left, int Top, std::string &Path) {
    TfrmBrowse form(QApplication::activeWindow());
    form.move(Left, Top);
    form.btOk->setText(QString::fromStdString(LangText("Options", "Ok", form.btOk->text().toStdString())));
    form.BitBtn2->setText(
        QString::fromStdString(LangText("Options", "Cancel", form.BitBtn2->text().toStdString())));
    GChosenPath.clear();
    ShowModal(form);
    Path = GChosenPath;
    GChosenPath.clear();
}
