// The Options dialog: the page tree, the working copy of the accounts, OK
// and Cancel, and the log view that every report of the program goes to.
// Made once at start-up right after the main window; lives until the end.
#pragma once

#include <QDialog>
#include <QTextEdit>
#include <memory>

#include "EventReporter.h"

class TFormAsetukset : public QDialog {
    Q_OBJECT
public:
    explicit TFormAsetukset(QWidget *owner = nullptr);
    ~TFormAsetukset() override;

    QTextEdit *RichEdit1 = nullptr;  // the log
    std::unique_ptr<TRichEditLog> Log;
    // A check was started while the dialog was showing; OK runs one more.
    bool CheckRequested = false;

    // Which page the main window's menu opens on.
    void SelectFirstPage();
    void SelectAboutPage();
    void SelectLogPage();
    // The event reporter calls this after each log line.
    void LogLineAdded() {}
};

// The one Options dialog (null before it is made and after it is gone).
extern TFormAsetukset *FormAsetukset;
