// A user at the running Tarnwick's keyboard, for tests of the real program
// on a display no one can type into (offscreen): a Qt "generic" plugin that
// the test has the program load with
//
//   QT_PLUGIN_PATH=<build>/tests/plugins  QT_QPA_GENERIC_PLUGINS=tarnwickdriver:<folder>
//
// It watches <folder> for "driver-request" (lines "Key=Value", renamed into
// place whole) and does what a user does, through the program's windows only:
//
//   AddAccount=<name> with Preset=, User=, Password=:
//     the tray menu's "Options", "Add account..." with the name typed into
//     its question, the preset picked, user name and password typed, OK;
//   Then=<caption>: afterwards, that item of the tray menu ("Show mail"
//     checks first).
//
// It writes "driver-done" when the request is carried out (the menu item
// is then chosen), or "driver-failed" with the reason. It uses nothing of
// the program but its widgets, found by their names and captions.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGenericPlugin>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QTimer>

namespace {

class TDriver : public QObject {
public:
    explicit TDriver(const QString &folder) : FFolder(folder) {
        FPoll.setInterval(50);
        connect(&FPoll, &QTimer::timeout, this, [this] { Poll(); });
        FPoll.start();
    }

private:
    QString File(const char *name) const { return FFolder + "/" + name; }

    void Poll() {
        // The engine's helper processes inherit the environment that loads
        // this plugin; only the program with windows acts.
        if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
            FPoll.stop();
            return;
        }
        QFile request(File("driver-request"));
        if (!request.exists() || !request.open(QIODevice::ReadOnly)) return;
        QMap<QString, QString> values;
        for (const QByteArray &line : request.readAll().split('\n')) {
            const int eq = line.indexOf('=');
            if (eq > 0) values[QString::fromUtf8(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1));
        }
        request.close();
        request.remove();
        // What follows waits in the program's own loops (the question is
        // modal): no second request meanwhile.
        FPoll.stop();
        const QString failure = AddAccount(values);
        QFile answer(File(failure.isEmpty() ? "driver-done" : "driver-failed"));
        if (answer.open(QIODevice::WriteOnly)) answer.write(failure.toUtf8());
        answer.close();
        if (failure.isEmpty() && values.contains("Then"))
            // Chosen once this request has been answered.
            QTimer::singleShot(0, this, [then = values["Then"]] {
                if (QAction *item = MenuAction(then)) item->trigger();
            });
        FPoll.start();
    }

    static QAction *MenuAction(const QString &caption) {
        for (QWidget *w : QApplication::allWidgets())
            if (auto *menu = qobject_cast<QMenu *>(w))
                for (QAction *a : menu->actions())
                    if (QString(a->text()).remove('&') == caption) return a;
        return nullptr;
    }

    static QWidget *Window(const QString &name) {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == name && w->isVisible()) return w;
        return nullptr;
    }

    static QString AddAccount(const QMap<QString, QString> &values) {
        if (!values.contains("AddAccount")) return "nothing asked";
        QAction *options = MenuAction("Options");
        if (!options) return "no \"Options\" in the tray menu";
        options->trigger();
        QWidget *dialog = Window("FormAsetukset");
        if (!dialog) return "the Options dialog did not show";
        auto *add = dialog->findChild<QAbstractButton *>("Button2");
        if (!add) return "no \"Add account...\" button";

        // The name is asked in a modal question, answered from inside its loop.
        bool answered = false;
        QTimer answerer;
        answerer.setInterval(20);
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            QWidget *question = QApplication::activeModalWidget();
            if (!question || question->objectName() != "frmGetText") return;
            auto *edit = question->findChild<QLineEdit *>("Edit1");
            auto *ok = question->findChild<QAbstractButton *>("BitBtn1");
            if (!edit || !ok) return;
            answerer.stop();
            edit->setText(values["AddAccount"]);
            answered = true;
            ok->click();
        });
        answerer.start();
        add->click();
        answerer.stop();
        if (!answered) return "the account's name was not asked";

        auto *preset = dialog->findChild<QComboBox *>("ComboBox1");
        auto *user = dialog->findChild<QLineEdit *>("TxtUser");
        auto *password = dialog->findChild<QLineEdit *>("TxtPassword");
        auto *ok = dialog->findChild<QAbstractButton *>("btOk");
        if (!preset || !user || !password || !ok) return "the account page lacks a field";
        if (!user->isVisible()) return "the new account's page did not show";
        const int index = preset->findText(values["Preset"]);
        if (index < 0) return "no preset \"" + values["Preset"] + "\"";
        preset->setCurrentIndex(index);
        emit preset->activated(index);
        user->setText(values["User"]);
        password->setText(values["Password"]);
        ok->click();
        if (dialog->isVisible()) return "the Options dialog stayed open after OK";
        return {};
    }

    QString FFolder;
    QTimer FPoll;
};

class TDriverPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "tarnwickdriver.json")
public:
    QObject *create(const QString &key, const QString &arguments) override {
        if (key.compare("tarnwickdriver", Qt::CaseInsensitive) != 0 || arguments.isEmpty()) return nullptr;
        return new TDriver(arguments);
    }
};

}  // namespace

#include "tarnwickdriver.moc"
