// The log page of the Options dialog: the log view's life (loading and
// saving the log file, clearing), the page's effect on the tray icon, and
// the log options page's button.
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "mainwindow/FrmMain.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "RtfLog.h"
#include "Shell.h"
#include "asetukset.h"

namespace {

// A log file is a few hundred lines; anything far larger is not ours.
constexpr int64_t MaxLogFileSize = 16 * 1024 * 1024;

QColor BgrColour(int bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

std::vector<TRtfLine> DocumentLines(const QTextDocument *doc) {
    std::vector<TRtfLine> lines;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        TRtfLine line;
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            QTextFragment f = it.fragment();
            if (!f.isValid()) continue;
            QBrush brush = f.charFormat().foreground();
            int colour = -1;
            if (brush.style() != Qt::NoBrush) {
                QColor c = brush.color();
                colour = c.red() | (c.green() << 8) | (c.blue() << 16);
            }
            line.Runs.push_back(TRtfRun{f.text().toStdString(), colour});
        }
        lines.push_back(std::move(line));
    }
    // A box that holds nothing has one empty block, not one line.
    if (lines.size() == 1 && lines[0].Runs.empty()) lines.clear();
    return lines;
}

void FillDocument(QTextEdit *edit, const std::vector<TRtfLine> &lines) {
    edit->clear();
    QTextCursor c(edit->document());
    c.movePosition(QTextCursor::End);
    bool first = true;
    for (const auto &line : lines) {
        if (!first) c.insertBlock();
        first = false;
        for (const auto &run : line.Runs) {
            QTextCharFormat f;
            f.setForeground(run.Colour < 0 ? QColor(Qt::black) : BgrColour(run.Colour));
            c.insertText(QString::fromStdString(run.Text), f);
        }
    }
}

}  // namespace

std::string TFormAsetukset::LogFileName() const {
    std::string user = FrmMain ? FrmMain->State.User : std::string();
    return ProgramFile(user.empty() ? std::string("log.rtf") : user + "_log.rtf");
}

void TFormAsetukset::LoadLogFile() {
    const std::string path = LogFileName();
    if (!FileExists(path)) return;
    std::vector<TRtfLine> lines;
    try {
        if (FileSize(path) > MaxLogFileSize) throw ERtfError("The log file is too large to be a log.");
        lines = RtfReadLog(ReadFileToString(path));
    } catch (const Exception &e) {
        // The log starts anew; the file stays until the log is saved over it.
        if (FrmMain) FrmMain->ReportEvent(path + ": " + e.Message(), 0, 6, TEventReporter::clRed);
        return;
    }
    if (lines.empty()) return;
    // The two header lines stay; of the rest only as many as the log keeps.
    int64_t keep = StrToInt64Def(Trim(ReadOption("LogValue", "30")), 30);
    if (keep < 0) keep = 0;
    if (lines.size() > 2 && int64_t(lines.size()) - 2 > keep)
        lines.erase(lines.begin() + 2, lines.end() - keep);
    FillDocument(RichEdit1, lines);
}

void TFormAsetukset::SaveLogFile() {
    if (!RichEdit1) return;
    const std::string path = LogFileName();
    if (StrToBoolean(ReadOption("LogToFile", "True"))) {
        WriteFileAtomic(path, RtfWriteLog(DocumentLines(RichEdit1->document())));
    } else if (FileExists(path)) {
        DeleteFile(path);
    }
}

void TFormAsetukset::Button1Click() { Log->Clear(); }

void TFormAsetukset::TabSheet6Show() {
    if (!FrmMain || !FrmMain->Reporter.ErrorFlag) return;
    FrmMain->Reporter.ErrorFlag = false;
    TTrayIcon *tray = FrmMain->TrayIcon1;
    tray->SetCycleIcons(false);
    tray->SetIconList(nullptr);
    QIcon icon;
    if (FrmMain->ImageList1->GetIcon(0, icon)) tray->SetIcon(icon);
}

void TFormAsetukset::btnVewDelClick() {
    // The list of deleted messages lives in the program folder, wherever
    // the program was started from.
    const std::string path = ProgramFile("deleted.txt");
    if (FileExists(path)) ShellOpen(path);
}
