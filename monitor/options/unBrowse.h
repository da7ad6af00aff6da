// The folder browser: the user picks a folder in a small tree of folders.
#pragma once

#include <QDialog>
#include <string>

class QFileSystemModel;
class QPushButton;
class QTreeView;

class TfrmBrowse : public QDialog {
    Q_OBJECT
public:
    explicit TfrmBrowse(QWidget *owner = nullptr);

    QTreeView *ShellTreeView1;  // folders only
    QFileSystemModel *Model;
    QPushButton *btOk;
    QPushButton *BitBtn2;  // Cancel

    // The folder selected in the tree, empty when none is.
    std::string SelectedPath() const;
    // Selects a folder and shows it (the tree opens down to it).
    void SelectPath(const std::string &path);

public slots:
    void btOkClick();
    void BitBtn2Click();
};

// Placed at (Left, Top). Path is the chosen folder, or empty when the user
// cancelled or closed the window (callers then keep their old value).
void ShowBrowseDialog(int Left, int Top, std::string &Path);
