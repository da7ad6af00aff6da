#include "unitFenlowDown.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <memory>

#include "dialogs/DialogSeam.h"

namespace unitFenlowDown {

TForm2::TForm2(QWidget *parent) : ::TForm2(parent) {
    // Fenlow's own form stays on top and stands where this one does; this
    // one must stay above it, or its Cancel button would be covered.
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setFixedSize(306, 65);
    ProgressBar1->setGeometry(8, 8, 289, 17);
    Label1->hide();
    Bevel1->hide();
    BitBtn1->setText("Yes");
    // Below the visible face: the window always starts on its own here.
    BitBtn1->setGeometry(104, 122, 75, 25);
    BitBtn2->setText("Cancel");
    BitBtn2->setGeometry(192, 34, 75, 25);
}

bool DownloadFile(const std::string &Caption, const std::string &, const std::string &Url,
                  const std::string &TargetFile, int, int Bottom, bool AutoStart) {
    auto form = std::make_unique<TForm2>();
    form->setWindowTitle(QString::fromStdString("Tarnwick - " + Caption));
    QScreen *screen = QGuiApplication::primaryScreen();
    int screenWidth = screen ? screen->geometry().width() : form->width();
    form->move(screenWidth - form->width(), Bottom - form->height());
    form->Url = Url;
    form->TargetFile = TargetFile;
    if (AutoStart) {
        form->Timer1->start();
        form->BitBtn1->setVisible(false);
    } else {
        form->Timer1->stop();
        form->BitBtn1->setVisible(true);
    }
    form->Result = false;
    ShowModal(*form);
    bool result = form->Result;
    form.reset();
    return result;
}

}  // namespace unitFenlowDown
