// The desktop back-end on Linux. Programs start as detached processes
// without a shell; the monitor and the keyboard lights go through the X
// server (when Qt runs on X11), the system's screen saver through the
// freedesktop ScreenSaver service on the session bus, and the sound through
// Qt Multimedia. Each facility is looked for at first use; one that is
// missing is named once in the log and then left alone.
#include <malloc.h>

#include <QApplication>
#include <QAudioDevice>
#include <QAudioOutput>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>

#include "Desktop.h"
#include "DesktopX11.h"

namespace {

const char *const kSaverService = "org.freedesktop.ScreenSaver";
const char *const kSaverPath = "/org/freedesktop/ScreenSaver";
const char *const kSaverInterface = "org.freedesktop.ScreenSaver";
// A session bus that does not answer must not hold the window up.
constexpr int kBusTimeoutMs = 1000;

class TLinuxDesktop : public TDesktop {
public:
    bool StartProgram(const std::string &commandLine) override {
        std::vector<std::string> words = SplitCommandLine(commandLine);
        if (words.empty())
            return false;
        QStringList args;
        for (size_t i = 1; i < words.size(); ++i)
            args << QString::fromStdString(words[i]);
        return QProcess::startDetached(QString::fromStdString(words[0]), args);
    }

    void MonitorOn() override {
        std::string why = "the desktop does not run on X11";
        if (!OnX11() || !X11MonitorOn(why))
            LogOnce("dpms", "The monitor cannot be switched on here: " + why + ".");
    }

    void ToggleKeyboardLeds() override {
        std::string why = "the desktop does not run on X11";
        if (!OnX11() || X11ToggleKeyboardLeds(why) <= 0)
            LogOnce("leds", "The keyboard lights cannot be blinked here: " + why + ".");
    }

    void Beep() override { QApplication::beep(); }

    bool PlaySound(const std::string &fileName) override {
        QString file = QString::fromStdString(fileName);
        if (!QFileInfo(file).isFile()) {
            LogOnce("sound-file:" + fileName, "The sound file \"" + fileName + "\" does not exist.");
            return false;
        }
        if (QMediaDevices::audioOutputs().isEmpty()) {
            LogOnce("sound", "Sounds cannot be played here: there is no sound output.");
            return false;
        }
        if (!FPlayer) {
            FPlayer = std::make_unique<QMediaPlayer>();
            FOutput = std::make_unique<QAudioOutput>();
            FPlayer->setAudioOutput(FOutput.get());
            QObject::connect(FPlayer.get(), &QMediaPlayer::errorOccurred, FPlayer.get(),
                             [this](QMediaPlayer::Error, const QString &text) {
                                 LogOnce("sound-error:" + text.toStdString(),
                                         "The sound could not be played: " + text.toStdString());
                             });
        }
        FPlayer->stop();
        FPlayer->setSource(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
        FPlayer->play();
        return FPlayer->error() == QMediaPlayer::NoError;
    }

    bool SoundPlaying() override {
        return FPlayer && FPlayer->playbackState() == QMediaPlayer::PlayingState;
    }

    void StopSound() override {
        if (FPlayer)
            FPlayer->stop();
    }

    bool ScreenSaverActive() override {
        QDBusInterface *saver = Saver();
        if (!saver)
            return false;
        QDBusReply<bool> reply = saver->call("GetActive");
        return reply.isValid() && reply.value();
    }

    void PokeScreenSaver() override {
        if (QDBusInterface *saver = Saver())
            saver->call("SimulateUserActivity");
    }

    uint32_t InhibitScreenSaver(const std::string &reason) override {
        QDBusInterface *saver = Saver();
        if (!saver)
            return 0;
        QDBusReply<uint> reply = saver->call("Inhibit", QString("Tarnwick"), QString::fromStdString(reason));
        return reply.isValid() ? reply.value() : 0;
    }

    void UnInhibitScreenSaver(uint32_t cookie) override {
        if (cookie == 0)
            return;
        if (QDBusInterface *saver = Saver())
            saver->call("UnInhibit", uint(cookie));
    }

    void TrimWorkingSet() override { malloc_trim(0); }

private:
    static bool OnX11() { return QGuiApplication::platformName() == "xcb"; }

    // The screen saver service, or null (said once) when the session has none.
    QDBusInterface *Saver() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            LogOnce("saver", "The desktop's screen saver cannot be reached: there is no session bus.");
            return nullptr;
        }
        QDBusConnectionInterface *names = bus.interface();
        if (!names || !names->isServiceRegistered(kSaverService).value()) {
            LogOnce("saver", "The desktop's screen saver cannot be reached: the session offers no "
                             "org.freedesktop.ScreenSaver service.");
            return nullptr;
        }
        if (!FSaver) {
            FSaver = std::make_unique<QDBusInterface>(kSaverService, kSaverPath, kSaverInterface, bus);
            FSaver->setTimeout(kBusTimeoutMs);
        }
        return FSaver->isValid() ? FSaver.get() : nullptr;
    }

    std::unique_ptr<QMediaPlayer> FPlayer;
    std::unique_ptr<QAudioOutput> FOutput;
    std::unique_ptr<QDBusInterface> FSaver;
};

}  // namespace

TDesktop *CreateLinuxDesktop() { return new TLinuxDesktop; }
