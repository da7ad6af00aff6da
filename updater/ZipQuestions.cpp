#include "ZipQuestions.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace {

class TDialogQuestions : public TZipQuestions {
public:
    bool InputPassword(const std::string &title, const std::string &prompt,
                       std::string &password) override {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance())) return false;
        bool ok = false;
        QString text = QInputDialog::getText(nullptr, QString::fromStdString(title),
                                             QString::fromStdString(prompt), QLineEdit::Password,
                                             QString(), &ok);
        if (ok) password = text.toStdString();
        return ok;
    }
    TOverwriteAnswer AskOverwrite(const std::string &text) override {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance())) return oaNo;
        auto b = QMessageBox::question(nullptr, QApplication::applicationName(), QString::fromStdString(text),
                                       QMessageBox::Yes | QMessageBox::No | QMessageBox::NoToAll |
                                           QMessageBox::YesToAll);
        switch (b) {
            case QMessageBox::Yes: return oaYes;
            case QMessageBox::YesToAll: return oaYesToAll;
            case QMessageBox::NoToAll: return oaNoToAll;
            default: return oaNo;
        }
    }
    TZipFailureAction AskFailure(const std::string &text) override {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance())) return fxaAbort;
        auto b = QMessageBox::warning(nullptr, QApplication::applicationName(), QString::fromStdString(text),
                                      QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
        if (b == QMessageBox::Retry) return fxaRetry;
        if (b == QMessageBox::Ignore) return fxaIgnore;
        return fxaAbort;
    }
    bool AskOkCancel(const std::string &text) override {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance())) return false;
        auto b = QMessageBox::information(nullptr, QApplication::applicationName(), QString::fromStdString(text),
                                          QMessageBox::Ok | QMessageBox::Cancel);
        return b == QMessageBox::Ok;
    }
};

TZipQuestions *CurrentQuestions = nullptr;

}  // namespace

TZipQuestions &ZipDialogQuestions() {
    static TDialogQuestions dialogs;
    return dialogs;
}

TZipQuestions *SetZipQuestions(TZipQuestions *questions) {
    TZipQuestions *old = CurrentQuestions;
    CurrentQuestions = questions;
    return old;
}

TZipQuestions &ZipQuestions() { return CurrentQuestions ? *CurrentQuestions : ZipDialogQuestions(); }
