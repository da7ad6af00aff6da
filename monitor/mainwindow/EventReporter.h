// The monitor's event reporter: every step of a check, every error and every
// update step becomes one numbered, coloured line in the log view, and
// errors drive the tray icon's hint and error animation.
//
// The main window owns one reporter; TFrmMain::ReportEvent forwards to
// TEventReporter::ReportEvent, and the window's error flag and last error
// kind are the reporter's ErrorFlag and LastErrorKind. The Options dialog
// attaches its log view (and sets LogReady) when it is created; the main
// window clears LogReady when it is destroyed.
#pragma once

#include <QPointer>
#include <QTextEdit>
#include <functional>
#include <string>

#include "ImgList.h"
#include "SysUtils.h"
#include "TrayIcon.h"

struct TMainOptions;

// The log as the reporter writes it: numbered lines, the first two of which
// are the header.
class TLogView {
public:
    virtual ~TLogView() = default;
    virtual int LineCount() const = 0;
    virtual std::string Line(int Index) const = 0;
    // Appends a line without colour (black).
    virtual void AddLine(const std::string &Text) = 0;
    // Colours the last line; Colour is a blue-green-red number.
    virtual void ColourLastLine(int Colour) = 0;
    virtual void DeleteLine(int Index) = 0;
    // Called after each report's line; the Options dialog may react.
    virtual void LogLineAdded() {}
};

// The log view over the Options dialog's read-only rich-text box. Text goes
// in as plain text, never as markup, since it carries servers' replies. Once
// the box is freed (the dialog goes first at exit) the log is empty and
// takes no lines.
class TRichEditLog : public TLogView {
public:
    explicit TRichEditLog(QTextEdit *Edit) : FEdit(Edit) {}
    int LineCount() const override;
    std::string Line(int Index) const override;
    void AddLine(const std::string &Text) override;
    void ColourLastLine(int Colour) override;
    void DeleteLine(int Index) override;
    // Empties the box and writes the header: "Tarnwick Log:" and 26 "-".
    void Clear();
    // Line colour as a blue-green-red number (for checks and the log file).
    int LineColour(int Index) const;
    QTextEdit *Edit() const { return FEdit; }

private:
    QPointer<QTextEdit> FEdit;
};

class TEventReporter {
public:
    // Colours in blue-green-red order.
    static constexpr int clBlack = 0;
    static constexpr int clRed = 255;
    static constexpr int clGreen = 32768;
    static constexpr int clBlue = 16711680;
    // Last error kinds.
    static constexpr int LoginError = 111;
    static constexpr int SocketError = 222;

    // Adds the report's line (see the kinds below) unless the log is not
    // ready. Never throws: it is called from error handlers.
    //  1  an error text mapped to a numbered message; also the tray hint
    //  2  time, message Number, " ", Text; ends a login or socket error
    //  3  time, message Number
    //  4  time, message Number, " ", Text
    //  5  time, Text
    //  6  time, Text, only when [Options] MyErrors is "True"
    void ReportEvent(const std::string &Text, int Number, int Kind, int Colour);

    // --- where reports go ---------------------------------------------------
    TLogView *Log = nullptr;
    bool LogReady = false;
    // Forgotten by themselves when freed before the reporter's last words.
    QPointer<TTrayIcon> TrayIcon;
    QPointer<TImageList> ErrorImages;  // the error animation's icons
    // Whether the Options dialog is on screen, and selecting its log page.
    std::function<bool()> OptionsShowing;
    std::function<void()> SelectLogPage;

    // --- what reports read at the moment they are made ----------------------
    // [Messages] text of the current language file; "" when missing.
    std::function<std::string(int Number)> MessageText = DefaultMessageText;
    // [Options] value of the settings file, or Default.
    std::function<std::string(const std::string &Key, const std::string &Default)> OptionText =
        DefaultOptionText;
    static std::string DefaultMessageText(int Number);
    static std::string DefaultOptionText(const std::string &Key, const std::string &Default);
    std::function<TDateTime()> Clock = [] { return Now(); };
    std::string LongTimeFormat = "hh:nn:ss";

    // --- state shared with the main window ----------------------------------
    bool ErrorFlag = false;
    int LastErrorKind = 0;
    // The main window's option flags (AnimError); without them the error
    // animation is on.
    const TMainOptions *MainOptions = nullptr;

private:
    std::string Message(int Number) const;
    std::string Option(const std::string &Key, const std::string &Default) const;
    std::string BuildLine(const std::string &Text, int Number, int Kind, bool &Drop);
};
