// What the main window shows: one new message at a time, stepped by the
// browsing timer or the user, slid in and out at the right edge of the work
// area, dragged by the skin's red mask pixels, and driven by keys.
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QUrl>
#include <QWindow>

#include "Desktop.h"
#include "FrmMain.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "Shell.h"
#include "SkinPictures.h"
#include "unFrmHint.h"
#include "unScr.h"

namespace {

QString Q(const std::string &s) { return QString::fromStdString(s); }

// The address inside the last "<...>" of a sender text, or "".
std::string AngleAddress(const std::string &Text) {
    size_t open = Text.rfind('<');
    if (open == std::string::npos)
        return {};
    size_t close = Text.find('>', open);
    if (close == std::string::npos)
        return {};
    return Trim(Text.substr(open + 1, close - open - 1));
}

}  // namespace

// ---- set-up -----------------------------------------------------------------

void TFrmMain::SetUpDisplay() {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    for (QLabel *l : SkinLabels()) {
        // Senders and subjects come from mail servers: never markup.
        l->setTextFormat(Qt::PlainText);
        l->setMouseTracking(true);
        l->installEventFilter(this);
    }
    for (TSkinButton *b : SkinButtons()) {
        b->setMouseTracking(true);
        b->installEventFilter(this);
    }
}

int TFrmMain::UpdateWorkAreaBottom() {
    if (QScreen *s = QGuiApplication::primaryScreen()) {
        QRect a = s->availableGeometry();
        State.WorkAreaBottom = a.y() + a.height();
    } else if (State.WorkAreaBottom <= 0) {
        State.WorkAreaBottom = ScreenHeight();
    }
    return State.WorkAreaBottom;
}

// ---- browsing ---------------------------------------------------------------

int TFrmMain::NextAccountWithMail(int From) {
    const TAccountArray &a = State.Accounts;
    for (int i = From + 1; i < a.Count(); ++i)
        if (a[i].NewCount > 0)
            return i;
    for (int i = 0; i <= From && i < a.Count(); ++i)
        if (a[i].NewCount > 0)
            return i;
    return From >= 0 && From < a.Count() && a[From].NewCount > 0 ? From : 0;
}

int TFrmMain::PrevAccountWithMail(int From) {
    const TAccountArray &a = State.Accounts;
    for (int i = std::min(From, a.Count()) - 1; i >= 0; --i)
        if (a[i].NewCount > 0)
            return i;
    for (int i = a.Count() - 1; i >= From && i >= 0; --i)
        if (a[i].NewCount > 0)
            return i;
    return From >= 0 && From < a.Count() && a[From].NewCount > 0 ? From : 0;
}

void TFrmMain::ShowMessageStep(int Mode) {
    TAccountArray &a = State.Accounts;
    if (a.ShownIndex < 0 || a.ShownIndex >= a.Count())
        return;
    if (a[a.ShownIndex].NewCount <= 0)
        a.ShownIndex = NextAccountWithMail(a.ShownIndex);
    Tiedot &t = a[a.ShownIndex];
    if (Mode == 1) {
        if (++t.Shown > t.NewCount)
            t.Shown = 1;
    } else if (Mode == 0) {
        if (--t.Shown < 1)
            t.Shown = t.NewCount;
    } else {
        if (t.Shown < 1)
            t.Shown = 1;
        if (t.Shown > t.NewCount)
            t.Shown = t.NewCount;
    }

    if (a.TotalNew > 0 && t.NewCount > 0) {
        try {
            LabelAccount->setText(Q(t.Name.empty() ? t.Host : t.Name));
            // The lists may be shorter than the count says; that is an error
            // shown as "...", never a read past their end.
            LabelFrom->setText(Q(t.Senders[t.Shown - 1]));
            LabelSubject->setText(Q(t.Subjects[t.Shown - 1]));
            LabelDate->setText(Q(t.Dates[t.Shown - 1]));
            LabelPosti->setText(Q(State.Texts.YouGot + " " + IntToStr(t.NewCount) + " " + State.Texts.NewMails));
            LabelNumero->setText(Q(IntToStr(t.Shown) + " / " + IntToStr(t.NewCount)));
        } catch (const Exception &) {
            for (QLabel *l : {LabelAccount, LabelFrom, LabelSubject, LabelDate, LabelPosti, LabelNumero})
                l->setText("...");
        }
        if (!State.WindowShown) {
            UpdateWorkAreaBottom();
            int top = State.Options.ShowOnDown ? ScreenHeight() : -5 - height();
            move(ScreenWidth() - width() - 3, top);
            Timer2->SetEnabled(true);
            Timer3->SetEnabled(true);
            TrayIcon1->ShowMainForm();
            TrayIcon1->HideTaskbarButton();
            State.WindowShown = true;
        }
        if (Desktop().ScreenSaverActive())
            StopScreenSaver();
    } else if (a.TotalNew <= 0) {
        if (State.WindowShown) {
            std::string prog = ReadOption("ProgFile2", "");
            if (!prog.empty())
                Desktop().StartProgram(prog);
        }
        Timer2->SetEnabled(false);
        Timer3->SetEnabled(false);
        Timer4->SetEnabled(true);
        State.WindowShown = false;
    }
}

void TFrmMain::Timer2Timer() {
    if (StrToBoolean(ReadOption("ShowMessage", "True")))
        ShowMessageStep(StrToBoolean(ReadOption("BrOldToNew", "True")) ? 1 : 0);
    // The new-mail sound ends at the first browsing tick.
    if (Player.Playing())
        Player.Close();
}

// ---- sliding ----------------------------------------------------------------

void TFrmMain::Timer3Timer() {
    if (Timer4->Enabled())
        Timer3->SetEnabled(false);
    int left = ScreenWidth() - width() - 3;
    int top = y();
    if (State.Options.ShowOnDown) {
        top -= 5;
        if (top < State.WorkAreaBottom - height() - 3)
            Timer3->SetEnabled(false);
    } else {
        top += 5;
        if (top > 3)
            Timer3->SetEnabled(false);
    }
    move(left, top);
}

void TFrmMain::Timer4Timer() {
    if (Timer3->Enabled())
        Timer4->SetEnabled(false);
    int left = ScreenWidth() - width() - 3;
    int top = y();
    bool gone;
    if (State.Options.ShowOnDown) {
        top += 5;
        gone = top > ScreenHeight();
    } else {
        top -= 5;
        gone = top < -5 - height();
    }
    move(left, top);
    if (gone) {
        Timer4->SetEnabled(false);
        TrayIcon1->HideMainForm();
        State.WindowShown = false;
    }
}

// ---- buttons and the sender link ------------------------------------------------

void TFrmMain::NappiClick(TSkinButton *Sender) {
    if (Sender == Nappi) {
        Timer2->SetEnabled(false);
        Timer3->SetEnabled(false);
        Timer4->SetEnabled(true);
        return;
    }
    bool browsing = Timer2->Enabled();
    Timer2->SetEnabled(false);
    if (Sender == NappiBack) {
        ShowMessageStep(0);
    } else if (Sender == NappiForward) {
        ShowMessageStep(1);
    } else if (Sender == accont_forward || Sender == accont_back) {
        int &shown = State.Accounts.ShownIndex;
        shown = Sender == accont_forward ? NextAccountWithMail(shown) : PrevAccountWithMail(shown);
        ShowMessageStep(2);
    }
    Timer2->SetEnabled(browsing);
}

void TFrmMain::NappiMouseDown(TSkinButton *Sender) { Sender->ShowPicture(3); }

void TFrmMain::NappiMouseUp(TSkinButton *Sender) { Sender->ShowPicture(1); }

void TFrmMain::NappiMouseMove(TSkinButton *Sender) {
    // A button held down keeps its pressed picture while the cursor moves on it.
    if (Sender != FPressedButton && Sender->Tag != 2)
        Sender->ShowPicture(2);
    for (TSkinButton *b : SkinButtons())
        if (b != Sender && b->Tag != 1)
            b->ShowPicture(1);
}

void TFrmMain::Image1MouseMove(QObject *Sender) {
    for (TSkinButton *b : SkinButtons())
        if (b->Tag != 1 && b != FPressedButton)
            b->ShowPicture(1);
    if (Sender == LabelFrom) {
        if (!FLabelFromUnderlined && StrToBoolean(ReadOption("UseReplyTo", "False"))) {
            QFont f = FLabelFromFont;
            f.setUnderline(true);
            LabelFrom->setFont(f);
            FLabelFromUnderlined = true;
        }
    } else if (FLabelFromUnderlined) {
        // Back to the skin's font for the label, not the form's.
        LabelFrom->setFont(FLabelFromFont);
        FLabelFromUnderlined = false;
    }
}

void TFrmMain::CMMouseLeave() {
    if (!rect().contains(mapFromGlobal(QCursor::pos())))
        Image1MouseMove(this);
}

void TFrmMain::LabelFromClick() {
    if (!StrToBoolean(ReadOption("UseReplyTo", "False")))
        return;
    const TAccountArray &a = State.Accounts;
    if (a.ShownIndex < 0 || a.ShownIndex >= a.Count())
        return;
    const Tiedot &t = a[a.ShownIndex];
    std::string address;
    if (t.Shown >= 1 && t.Shown <= t.Addresses.Count())
        address = Trim(t.Addresses[t.Shown - 1]);
    if (address.empty())
        address = AngleAddress(LabelFrom->text().toStdString());
    // A bare name is no address to write to.
    if (address.empty() || !Contains(address, "@"))
        return;
    QByteArray encoded = QUrl::toPercentEncoding(Q(address), "@");
    ShellOpen("mailto:" + encoded.toStdString());
}

void TFrmMain::PressButton(TSkinButton *Button) {
    Button->ShowPicture(3);
    NappiClick(Button);
    for (int i = 0; i < 11; ++i) {
        ProcessMessages();
        QThread::msleep(1);
    }
    Button->ShowPicture(1);
}

// ---- painting, hit test and keys -----------------------------------------------

void TFrmMain::FormPaint(QPainter &Canvas) {
    if (Image1.width() < width() || Image1.height() < height())
        Canvas.fillRect(rect(), palette().window());
    if (!Image1.isNull())
        Canvas.drawImage(0, 0, Image1);
}

void TFrmMain::FormHide() { Player.Close(); }

int TFrmMain::HitTest(int X, int Y) const {
    return MaskClassAt(ImageBack, X, Y) == mcRed ? HTCAPTION : HTCLIENT;
}

void TFrmMain::FormKeyDown(int Key, Qt::KeyboardModifiers Shift) {
    const bool ctrl = Shift & Qt::ControlModifier;
    const bool slidingOut = Timer4->Enabled();
    switch (Key) {
    case Qt::Key_Escape:
        PressButton(Nappi);
        break;
    case Qt::Key_Down:
        if (slidingOut)
            break;
        if (State.Options.ShowOnDown) {
            PressButton(Nappi);
        } else {
            move(x(), UpdateWorkAreaBottom() - height() - 5);
            State.Options.ShowOnDown = true;
        }
        break;
    case Qt::Key_Up:
        if (slidingOut)
            break;
        if (State.Options.ShowOnDown) {
            move(x(), 5);
            State.Options.ShowOnDown = false;
        } else {
            PressButton(Nappi);
        }
        break;
    case Qt::Key_Right:
        PressButton(ctrl ? accont_forward : NappiForward);
        break;
    case Qt::Key_Left:
        PressButton(ctrl ? accont_back : NappiBack);
        break;
    case Qt::Key_U:
        if (!ctrl)
            break;
        LoadSkin(LoadedSkin.empty() ? State.Options.Skin : LoadedSkin, true);
        ApplySkinRegion();
        if (State.WindowShown)
            move(ScreenWidth() - width() - 3,
                 State.Options.ShowOnDown ? UpdateWorkAreaBottom() - height() - 5 : 5);
        break;
    case Qt::Key_Space:
        Player.Close();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Timer1Timer();
        break;
    case Qt::Key_S:
        ShowOwnScreenSaver();
        break;
    case Qt::Key_B:
        ShowMailHint("tESt", 10000);
        break;
    default:
        break;
    }
}

// ---- events of the window ----------------------------------------------------------

void TFrmMain::paintEvent(QPaintEvent *) {
    QPainter p(this);
    Guard("FormPaint", [&] { FormPaint(p); });
}

void TFrmMain::hideEvent(QHideEvent *) { Guard("FormHide", [this] { FormHide(); }); }

void TFrmMain::keyPressEvent(QKeyEvent *event) {
    Guard("FormKeyDown", [&] { FormKeyDown(event->key(), event->modifiers()); });
}

void TFrmMain::mousePressEvent(QMouseEvent *event) {
    Guard("FormMouseDown", [&] {
        QPoint p = event->position().toPoint();
        if (event->button() == Qt::RightButton) {
            PopupMenu2->popup(event->globalPosition().toPoint());
        } else if (event->button() == Qt::LeftButton && HitTest(p.x(), p.y()) == HTCAPTION) {
            // The window manager moves it where it can; elsewhere it follows
            // the cursor by itself.
            if (!(windowHandle() && windowHandle()->startSystemMove())) {
                FDragging = true;
                FDragOffset = event->globalPosition().toPoint() - pos();
            }
        }
    });
}

void TFrmMain::mouseMoveEvent(QMouseEvent *event) {
    Guard("Image1MouseMove", [&] {
        if (FDragging && (event->buttons() & Qt::LeftButton))
            move(event->globalPosition().toPoint() - FDragOffset);
        else
            Image1MouseMove(this);
    });
}

void TFrmMain::mouseReleaseEvent(QMouseEvent *) { FDragging = false; }

void TFrmMain::leaveEvent(QEvent *) { Guard("CMMouseLeave", [this] { CMMouseLeave(); }); }

bool TFrmMain::eventFilter(QObject *watched, QEvent *event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseMove && type != QEvent::Enter && type != QEvent::MouseButtonDblClick)
        return QWidget::eventFilter(watched, event);
    bool handled = false;
    Guard("NappiMouse", [&] {
        auto *mouse = dynamic_cast<QMouseEvent *>(event);
        for (TSkinButton *b : SkinButtons()) {
            if (watched != b)
                continue;
            handled = true;
            if (type == QEvent::Enter || type == QEvent::MouseMove) {
                NappiMouseMove(b);
            } else if (mouse && mouse->button() == Qt::RightButton) {
                if (type == QEvent::MouseButtonPress)
                    PopupMenu2->popup(mouse->globalPosition().toPoint());
            } else if (mouse && mouse->button() == Qt::LeftButton) {
                if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
                    FPressedButton = b;
                    NappiMouseDown(b);
                } else {
                    bool click = FPressedButton == b && b->rect().contains(mouse->position().toPoint());
                    FPressedButton = nullptr;
                    NappiMouseUp(b);
                    if (click)
                        NappiClick(b);
                }
            }
            return;
        }
        auto *label = qobject_cast<QLabel *>(watched);
        if (!label || label->parentWidget() != this || !mouse)
            return;
        // Labels lie on the skin: presses and moves on them count as on the form.
        QPoint formPos = label->mapTo(this, mouse->position().toPoint());
        handled = true;
        if (type == QEvent::MouseMove) {
            if (FDragging && (mouse->buttons() & Qt::LeftButton))
                move(mouse->globalPosition().toPoint() - FDragOffset);
            else
                Image1MouseMove(label);
        } else if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
            FLinkPressed = false;
            if (mouse->button() == Qt::RightButton) {
                PopupMenu2->popup(mouse->globalPosition().toPoint());
            } else if (mouse->button() == Qt::LeftButton && HitTest(formPos.x(), formPos.y()) == HTCAPTION) {
                if (!(windowHandle() && windowHandle()->startSystemMove())) {
                    FDragging = true;
                    FDragOffset = mouse->globalPosition().toPoint() - pos();
                }
            } else if (mouse->button() == Qt::LeftButton) {
                FLinkPressed = label == LabelFrom;
            }
        } else if (type == QEvent::MouseButtonRelease) {
            FDragging = false;
            bool click = FLinkPressed && label == LabelFrom && mouse->button() == Qt::LeftButton &&
                         label->rect().contains(mouse->position().toPoint());
            FLinkPressed = false;
            if (click)
                LabelFromClick();
        }
    });
    return handled || QWidget::eventFilter(watched, event);
}
