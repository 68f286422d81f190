#include "ui/SoundPlayer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>

namespace cw {

namespace {

// One effect at a time: a new sound replaces the one still playing. The effect belongs to the
// application object, so it is gone with it and never outlives the event loop it needs.
class TQtSoundPlayer : public ISoundPlayer {
public:
    void Play(const std::string& path) override {
        const QString file = QString::fromStdString(path);
        if (!QFileInfo(file).isFile() || !QCoreApplication::instance())
            return;
        if (Effect)
            Effect->deleteLater();
        Effect = new QSoundEffect(QCoreApplication::instance());
        Effect->setSource(QUrl::fromLocalFile(file));
        Effect->play();
    }

private:
    QPointer<QSoundEffect> Effect;
};

ISoundPlayer* InstalledPlayer = nullptr;

} // namespace

ISoundPlayer* SetSoundPlayer(ISoundPlayer* player) {
    ISoundPlayer* previous = InstalledPlayer;
    InstalledPlayer = player;
    return previous;
}

void PlaySoundFile(const std::string& path) {
    if (InstalledPlayer) {
        InstalledPlayer->Play(path);
        return;
    }
    static TQtSoundPlayer player;
    player.Play(path);
}

} // namespace cw
