// The message reader: every message waiting in the shown account, not only
// the new ones, with bodies on request or in the background, delete after a
// fresh look at the message, hide and un-hide through the hidden-messages
// file, and the add-sender dialog for the selected sender.
//
// It logs in through the main window's own POP3 and IMAP4 clients and TLS
// handler, so it waits ("Checking in progress...") while a cycle runs, and
// closes every connection when an operation ends so a cycle can run again.
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Classes.h"
#include "mailbox/MailboxSession.h"
#include "SysUtils.h"
#include "settings/VeskRutins.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTextEdit;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TNetMessage;
class TTimer;

// One message of the list, in the order the server numbers them.
struct TReaderEntry {
    std::string Sender;   // the From address as shown
    std::string Address;  // the From address alone
    std::string Subject;
    TStringList Body;     // empty until fetched
    std::string MessageId;
    uint8_t Read = 0;     // 1 read (\Seen, or its body was fetched here), 0 unread
    // Where the message stood on the server when it was listed: its number,
    // its UID (IMAP4, or POP3 UIDL) and its size. A later body fetch or
    // delete goes to this message, never to whatever took the position of a
    // skipped one or shares its Message-ID.
    int Number = 0;
    std::string Uid;
    int64_t Size = -1;
};

// The reader's copy of the account, taken when the list is loaded.
struct TReaderAccount : TMailboxAccount {
    int Index = -1;
};

// The identifiers the hidden-messages file (HiddenMessagesFile) lists now;
// empty when there is no file.
std::unordered_set<std::string> ReadHiddenMessages();

// The text the reader shows for a received message: the first plain-text
// part that is no attachment (else the first text part, else the message's
// own body), decoded from its character set when UseDecode, and as text
// without markup when it is HTML and ClearHTML. UTF-8 lines.
TStringList ReaderBodyLines(TNetMessage &Message, bool UseDecode, bool ClearHTML);
// HTML as the plain lines a reader shows: block ends break lines, entities
// become characters, scripts, styles and the head stay out. Nothing is ever
// loaded from elsewhere.
TStringList HtmlTextLines(const std::string &Html);

class TfrmMessBody : public QDialog {
    Q_OBJECT
public:
    explicit TfrmMessBody(QWidget *owner = nullptr);
    ~TfrmMessBody() override;

    // ---- components ------------------------------------------------------------
    QWidget *Panel1;  // the toolbar, the account name and the list
    QToolBar *ToolBar1;
    QToolButton *ToolButton1;  // reload
    QToolButton *ToolButton4;  // delete
    QToolButton *ToolButton8;  // add to a rule
    QToolButton *ToolButton2;  // hide or un-hide
    QToolButton *ToolButton5;  // show the body
    int ToolButton2Tag = 0;    // 1 while the selected message is hidden
    QLabel *Label5;            // the account's name
    QTreeWidget *MailList;
    int MailListTag = 0;  // the row selected before a delete
    QSplitter *Splitter1;
    QWidget *Panel2;
    QWidget *Panel3;
    QLabel *Label1;  // "From:"
    QLabel *Label2;  // "Subject:"
    QLabel *Label3;  // the sender
    QLabel *Label4;  // the subject
    QTextEdit *RichEdit1;
    QWidget *Panel4;
    QPushButton *BitBtn1;  // Close
    int BitBtn1Tag = 0;    // 1 once the window is closing: long loops stop
    QWidget *StatusBar1;
    QLabel *StatusPanels[2];
    QProgressBar *ProgressBar1;
    TTimer *Timer1;  // list loading, retried while a cycle runs
    TTimer *Timer2;  // auto-close
    TTimer *Timer3;  // background body fetching; Tag is the row
    TFont MessageFont;
    TFont QuotesFont;  // the quote lines' colour and size

    // ---- handlers --------------------------------------------------------------
    void FormCreate();
    void FormShow();
    void FormDestroy();  // writes the window's settings; runs once
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void ToolButton1Click(QObject *Sender);  // reload (ToolButton1) or delete (ToolButton4)
    void ToolButton6Click();                 // show the selected body
    void ToolButton7Click();                 // hide or un-hide
    void ToolButton8Click();                 // add the sender to a rule
    void BitBtn1Click();
    void MailListSelectItem();
    void PushCloseTime(bool Fresh = false);

    // ---- work ------------------------------------------------------------------
    void LoadList();
    // False (with a status) when the account shown now is a protected one
    // the reader was not opened for.
    bool MayLoadShownAccount();
    bool DeleteOnServer(int EntryIndex);
    void DeleteSelected();
    bool HideMessage(const std::string &MessageId);
    bool UnhideMessage(const std::string &MessageId);
    bool FetchBody(int EntryIndex);
    void ExtractBody(TNetMessage &Message, int EntryIndex);
    void ShowBody(int EntryIndex);  // the entry's Body, quotes coloured
    void ColourQuotes();
    void SetBusy(bool Value);
    void ShowProgress(int Position, int Maximum);
    void SetStatus(const std::string &Text);
    std::string Status() const;

    // Row <-> entry: POP3 and IMAP4 rows stand newest first (row 0 is the
    // last entry), web-mail rows in entry order. -1 outside the list.
    int EntryIndex(int Row) const;
    int RowOfEntry(int Index) const;
    int SelectedRow() const;
    void SelectRow(int Row);
    // True while the main window's cycle works (the clients are its then).
    bool CycleInProgress() const;
    // Where the window's outer bottom-right corner goes.
    void PlaceCorner(int Right, int Bottom);

    // ---- state ------------------------------------------------------------------
    std::vector<TReaderEntry> Entries;
    TReaderAccount Account;
    bool Busy = false;
    TDateTime CloseTime = 0;
    std::unordered_set<std::string> Hidden;  // the hidden-messages file as last read

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void done(int r) override;
    void showEvent(QShowEvent *event) override;

private:
    void Guarded(const char *Where, const std::function<void()> &Work);
    void Report(const std::exception &e);
    void UpdateRow(int Row);
    void StyleRow(QTreeWidgetItem &Item, const TReaderEntry &Entry) const;
    // Rows of entries listed since the last flush, oldest first; they join
    // the list in one insertion, so a long list is not laid out per row.
    void FlushRows();
    std::vector<QTreeWidgetItem *> FPendingRows;
    void ClearBodyView();
    void ApplyLanguage();
    bool Stopping() const;
    // One operation's session on the account's mailbox.
    TMailboxAccount SessionAccount() const;
    std::unique_ptr<TMailboxSession> CreateSession() const;
    // False when the goodbye failed (reported by its number when not 0).
    bool CloseSession(TMailboxSession &Session, bool Undo, int ErrorNumber);
    // The message as it was listed: its number, UID and identifier.
    TMailboxItem ListedItem(const TReaderEntry &Entry) const;
    void AddEntry(const TMailboxItem &Item, TNetMessage &Message,
                  std::unordered_map<std::string, TReaderEntry> &Before);
    std::string FDateFormat;  // the Date column's, read at each load
    void LogoutWeb();
    bool FDestroyed = false;
    QPoint FCorner{-1, -1};
};

// Bottom-right corner at (X, Y); modal; nothing while one is open.
void ShowMessageReader(int X, int Y);
bool MessageReaderOpen();
