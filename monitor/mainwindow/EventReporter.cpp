#include "EventReporter.h"

#include <QColor>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <cstdint>
#include <cstdio>
#include <exception>

#include "ImgList.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "settings/Tiedot.h"
#include "TrayIcon.h"
#include "settings/unLanguage.h"

// --- the rich-text log ------------------------------------------------------

namespace {

QColor BgrToColour(int bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

}  // namespace

int TRichEditLog::LineCount() const {
    if (!FEdit)
        return 0;
    const QTextDocument *doc = FEdit->document();
    // A freshly cleared box holds one empty block and no lines.
    if (doc->blockCount() == 1 && doc->firstBlock().text().isEmpty())
        return 0;
    return doc->blockCount();
}

std::string TRichEditLog::Line(int Index) const {
    if (!FEdit)
        return {};
    QTextBlock b = FEdit->document()->findBlockByNumber(Index);
    return b.isValid() ? b.text().toStdString() : std::string();
}

void TRichEditLog::AddLine(const std::string &Text) {
    if (!FEdit)
        return;
    QTextCursor c(FEdit->document());
    c.movePosition(QTextCursor::End);
    QTextCharFormat plain;
    plain.setForeground(Qt::black);
    if (LineCount() > 0)
        c.insertBlock();
    c.insertText(QString::fromStdString(Text), plain);
}

void TRichEditLog::ColourLastLine(int Colour) {
    if (!FEdit)
        return;
    QTextBlock b = FEdit->document()->lastBlock();
    QTextCursor c(b);
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    QTextCharFormat f;
    f.setForeground(BgrToColour(Colour));
    c.mergeCharFormat(f);
}

void TRichEditLog::DeleteLine(int Index) {
    if (!FEdit)
        return;
    QTextBlock b = FEdit->document()->findBlockByNumber(Index);
    if (!b.isValid())
        return;
    // The line with one line break: the one after it, or for the last line
    // the one before it.
    QTextCursor c(FEdit->document());
    int end = b.position() + b.length() - 1;
    if (b.next().isValid()) {
        c.setPosition(b.position());
        c.setPosition(b.next().position(), QTextCursor::KeepAnchor);
    } else {
        c.setPosition(b.previous().isValid() ? b.position() - 1 : b.position());
        c.setPosition(end, QTextCursor::KeepAnchor);
    }
    c.removeSelectedText();
}

void TRichEditLog::Clear() {
    if (!FEdit)
        return;
    FEdit->clear();
    AddLine("Tarnwick Log:");
    AddLine(std::string(26, '-'));
}

int TRichEditLog::LineColour(int Index) const {
    if (!FEdit)
        return -1;
    QTextBlock b = FEdit->document()->findBlockByNumber(Index);
    if (!b.isValid())
        return -1;
    QColor c = b.begin().fragment().isValid() ? b.begin().fragment().charFormat().foreground().color()
                                              : QColor(Qt::black);
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

// --- the reporter --------------------------------------------------------------

std::string TEventReporter::DefaultMessageText(int Number) { return LangMessage(Number); }

std::string TEventReporter::DefaultOptionText(const std::string &Key, const std::string &Default) {
    return ReadOption(Key, Default);
}

std::string TEventReporter::Message(int Number) const {
    return MessageText ? MessageText(Number) : std::string();
}

std::string TEventReporter::Option(const std::string &Key, const std::string &Default) const {
    return OptionText ? OptionText(Key, Default) : Default;
}

std::string TEventReporter::BuildLine(const std::string &Text, int Number, int Kind, bool &Drop) {
    const std::string time = FormatDateTime(LongTimeFormat, Clock()) + "  ";
    Drop = false;
    switch (Kind) {
    case 1: {
        // The errors the protocol layers raise, told apart by how their
        // texts begin.
        auto starts = [&](std::string_view prefix) { return Text.compare(0, prefix.size(), prefix) == 0; };
        std::string line;
        if (starts(" Bad login")) {
            line = time + Message(1);
            ErrorFlag = true;
            LastErrorKind = LoginError;
        } else if (starts("Socket Err") || starts("Cannot c")) {
            line = time + Message(2);
            ErrorFlag = true;
            LastErrorKind = SocketError;
        } else if (starts("Could not ")) {
            line = time + Message(4);
            ErrorFlag = true;
        } else if (starts("Unable to ")) {
            line = time + Message(13);
            ErrorFlag = true;
        } else {
            // A server's own wording ("-ERR [AUTH] Authentication failed.")
            // is still worth a line of its own.
            line = time + Text;
        }
        if (TrayIcon)
            TrayIcon->SetHint(line);
        return line;
    }
    case 2:
        if (LastErrorKind == LoginError || LastErrorKind == SocketError)
            ErrorFlag = false;
        return time + Message(Number) + " " + Text;
    case 3:
        return time + Message(Number);
    case 4:
        return time + Message(Number) + " " + Text;
    case 6:
        if (Option("MyErrors", "False") != "True") {
            Drop = true;
            return {};
        }
        return time + Text;
    default:  // 5, and any kind no caller uses
        return time + Text;
    }
}

void TEventReporter::ReportEvent(const std::string &Text, int Number, int Kind, int Colour) {
    if (!LogReady || !Log)
        return;
    try {
        bool drop = false;
        std::string line = BuildLine(Text, Number, Kind, drop);
        if (drop)
            return;
        // One report, one line: the trimming counts lines.
        for (char &ch : line)
            if (ch == '\r' || ch == '\n')
                ch = ' ';
        Log->AddLine(line);
        if (Option("UseColors", "True") == "True")
            Log->ColourLastLine(Colour);

        int64_t keep = StrToInt64Def(Trim(Option("LogValue", "30")), 30);
        if (keep < 0)
            keep = 0;
        // No log holds more lines than this; keep + 2 must not overflow.
        if (keep > INT32_MAX)
            keep = INT32_MAX;
        while (Log->LineCount() > keep + 2 && Log->LineCount() > 2)
            Log->DeleteLine(2);

        bool animError = MainOptions ? MainOptions->AnimError : true;
        if (!animError) {
            ErrorFlag = false;
        } else if (ErrorFlag) {
            if (TrayIcon) {
                TrayIcon->SetIconList(ErrorImages);
                TrayIcon->SetCycleInterval(200);
                TrayIcon->SetCycleIcons(true);
            }
            if (OptionsShowing && OptionsShowing() && SelectLogPage)
                SelectLogPage();
        }
        Log->LogLineAdded();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "event report failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "event report failed\n");
    }
}
