#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QDBusMessage;
class QDBusServiceWatcher;
class QVariant;

namespace pulsaro {

// What the media players on the desktop are playing, as they tell it over
// MPRIS: every bus name under org.mpris.MediaPlayer2. is a player, and its
// object /org/mpris/MediaPlayer2 has the playback status and the metadata of
// the track.
//
// Every call to a player is asynchronous and given up after a few seconds, so
// a player that hangs never holds up the thread this object lives on; such a
// player, or one that answers with something unreadable, simply does not
// count until it sends its properties again. Texts from the players are
// cleaned before anyone sees them: control characters become blanks, and no
// text is longer than kMaxTextLength characters.
class NowPlaying : public QObject {
    Q_OBJECT

public:
    struct PlayingTrack {
        QString player;  // the player's Identity, else its bus name
        QString artist;  // several artists joined with ", "
        QString album;
        QString title;
        // The track's file when its xesam:url is a file:// URL of a regular
        // file that exists (checked when the metadata arrived); else empty.
        QString localFile;
        bool operator==(const PlayingTrack&) const = default;
    };

    static constexpr qsizetype kMaxTextLength = 255;
    static constexpr int kCallTimeoutMs = 3000;

    // bus: the session bus in the program; nothing is watched when it is not
    // connected.
    explicit NowPlaying(const QDBusConnection& bus, QObject* parent = nullptr);
    ~NowPlaying() override;

    // The track of the player that started playing most recently among those
    // playing; when none plays, that of a paused one; else none.
    std::optional<PlayingTrack> current() const { return current_; }
    // Whether the bus is connected (else current() stays empty).
    bool available() const;

signals:
    // current() has changed.
    void changed();

private slots:
    void propertiesChanged(const QDBusMessage& message);

private:
    enum class Status { Stopped, Paused, Playing };
    // One connection to the bus, by its unique name; a player may own
    // several well-known names.
    struct Player {
        QStringList names;
        QString identity;
        PlayingTrack track;  // without the player's name
        Status status = Status::Stopped;
        quint64 playingSince = 0;  // order in which the players started playing
        bool answered = false;     // its properties were read
        bool reading = false;      // a read of them is under way
    };

    void call(const QDBusMessage& message, std::function<void(const QDBusMessage&)> done);
    void listNames();
    void ownerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void readPlayer(const QString& owner);
    void readIdentity(const QString& owner);
    void applyPlayerProperties(Player& player, const QVariantMap& properties);
    void update();

    QDBusConnection bus_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QHash<QString, Player> players_;
    quint64 playingCount_ = 0;
    std::optional<PlayingTrack> current_;
};

}  // namespace pulsaro
