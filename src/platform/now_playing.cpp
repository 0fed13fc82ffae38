#include "platform/now_playing.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QFileInfo>
#include <QUrl>
#include <QVariant>
#include <utility>

namespace pulsaro {

namespace {

const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const QString kBusInterface = QStringLiteral("org.freedesktop.DBus");
const QString kPlayerNamePrefix = QStringLiteral("org.mpris.MediaPlayer2.");
// The watcher's form for every name in that namespace.
const QString kPlayerNamePattern = QStringLiteral("org.mpris.MediaPlayer2*");
const QString kPlayerPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// A URL longer than this is not taken for a file name.
constexpr qsizetype kMaxUrlLength = 16384;

bool isReply(const QDBusMessage& message, const char* signature) {
    return message.type() == QDBusMessage::ReplyMessage &&
           message.signature() == QLatin1String(signature);
}

// The value inside a variant that a player wrapped once more than it should.
QVariant unwrapped(const QVariant& value) {
    if (value.userType() == qMetaTypeId<QDBusVariant>()) {
        return value.value<QDBusVariant>().variant();
    }
    return value;
}

// A dictionary of strings to variants as QtDBus hands it over (still
// marshalled), or none when the value is anything else. The signature is
// checked first: QtDBus warns when it is asked to read the wrong type.
std::optional<QVariantMap> asMap(const QVariant& received) {
    const QVariant value = unwrapped(received);
    if (value.userType() == QMetaType::QVariantMap) {
        return value.toMap();
    }
    if (value.userType() != qMetaTypeId<QDBusArgument>()) {
        return std::nullopt;
    }
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a{sv}")) {
        return std::nullopt;
    }
    QVariantMap map;
    argument >> map;
    return map;
}

// A text fit to show: control characters and line breaks as blanks, no
// blanks at the ends, at most kMaxTextLength characters (never half a
// surrogate pair).
QString cleanText(const QString& text) {
    constexpr qsizetype kMax = NowPlaying::kMaxTextLength;
    // Leaves room for the blanks trimmed off without going through all of a
    // huge text.
    QString clean = text.left(4 * kMax);
    for (QChar& c : clean) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph) {
            c = QLatin1Char(' ');
        }
    }
    clean = clean.trimmed();
    if (clean.size() > kMax) {
        const qsizetype length = clean.at(kMax - 1).isHighSurrogate() ? kMax - 1 : kMax;
        clean = clean.left(length).trimmed();
    }
    return clean;
}

// A string field; any other type counts as missing.
QString textOf(const QVariant& received) {
    const QVariant value = unwrapped(received);
    return value.userType() == QMetaType::QString ? cleanText(value.toString()) : QString();
}

// xesam:artist is a list of names; some players send a single string, and
// some cut one name at its commas into several entries, which joined with
// ", " read as the name again.
QString artistOf(const QVariant& received) {
    const QVariant value = unwrapped(received);
    if (value.userType() == QMetaType::QString) {
        return cleanText(value.toString());
    }
    if (value.userType() != QMetaType::QStringList) {
        return {};
    }
    QStringList names;
    qsizetype length = 0;
    for (const QString& name : value.toStringList()) {
        if (length > NowPlaying::kMaxTextLength) {
            break;
        }
        QString clean = cleanText(name);
        if (!clean.isEmpty()) {
            length += clean.size() + 2;
            names.append(std::move(clean));
        }
    }
    return cleanText(names.join(QLatin1String(", ")));
}

// The path in a file:// URL on this machine when it names a regular file
// that exists; else empty.
QString localFileOf(const QVariant& received) {
    const QVariant value = unwrapped(received);
    if (value.userType() != QMetaType::QString || value.toString().size() > kMaxUrlLength) {
        return {};
    }
    const QUrl url(value.toString(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("file") ||
        !(url.host().isEmpty() || url.host() == QLatin1String("localhost"))) {
        return {};
    }
    const QString path = url.path(QUrl::FullyDecoded);
    // Qt warns about a file name with a NUL in it (from "%00").
    if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0))) {
        return {};
    }
    return QFileInfo(path).isFile() ? path : QString();
}

NowPlaying::PlayingTrack trackOf(const QVariant& metadata) {
    NowPlaying::PlayingTrack track;
    const std::optional<QVariantMap> fields = asMap(metadata);
    if (!fields) {
        return track;
    }
    track.artist = artistOf(fields->value(QStringLiteral("xesam:artist")));
    track.album = textOf(fields->value(QStringLiteral("xesam:album")));
    track.title = textOf(fields->value(QStringLiteral("xesam:title")));
    track.localFile = localFileOf(fields->value(QStringLiteral("xesam:url")));
    return track;
}

}  // namespace

NowPlaying::NowPlaying(const QDBusConnection& bus, QObject* parent) : QObject(parent), bus_(bus) {
    if (!bus_.isConnected()) {
        return;
    }
    watcher_ = new QDBusServiceWatcher(kPlayerNamePattern, bus_,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this, &NowPlaying::ownerChanged);
    // From every sender: the players are told apart by their unique names.
    bus_.connect(QString(), kPlayerPath, kPropertiesInterface, QStringLiteral("PropertiesChanged"),
                 this, SLOT(propertiesChanged(QDBusMessage)));
    listNames();
}

NowPlaying::~NowPlaying() {
    if (bus_.isConnected()) {
        bus_.disconnect(QString(), kPlayerPath, kPropertiesInterface,
                        QStringLiteral("PropertiesChanged"), this,
                        SLOT(propertiesChanged(QDBusMessage)));
    }
}

bool NowPlaying::available() const {
    return bus_.isConnected();
}

// The watchers are children of this object: an answer that comes after it is
// gone is dropped with them.
void NowPlaying::call(const QDBusMessage& message, std::function<void(const QDBusMessage&)> done) {
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(watcher->reply());
    });
}

// The players that were there before this object: their names and then who
// owns each (a name may have gone by then, or have come already through the
// watcher; both are harmless).
void NowPlaying::listNames() {
    call(QDBusMessage::createMethodCall(kBusService, kBusPath, kBusInterface,
                                        QStringLiteral("ListNames")),
         [this](const QDBusMessage& reply) {
             if (!isReply(reply, "as")) {
                 return;
             }
             for (const QString& name : reply.arguments().constFirst().toStringList()) {
                 if (!name.startsWith(kPlayerNamePrefix)) {
                     continue;
                 }
                 call(QDBusMessage::createMethodCall(kBusService, kBusPath, kBusInterface,
                                                     QStringLiteral("GetNameOwner"))
                          << name,
                      [this, name](const QDBusMessage& ownerReply) {
                          if (isReply(ownerReply, "s")) {
                              ownerChanged(name, QString(),
                                           ownerReply.arguments().constFirst().toString());
                          }
                      });
             }
         });
}

void NowPlaying::ownerChanged(const QString& name, const QString& oldOwner,
                              const QString& newOwner) {
    if (!name.startsWith(kPlayerNamePrefix) || oldOwner == newOwner) {
        return;
    }
    if (!oldOwner.isEmpty()) {
        const auto old = players_.find(oldOwner);
        if (old != players_.end()) {
            old->names.removeAll(name);
            if (old->names.isEmpty()) {
                players_.erase(old);
            }
        }
    }
    if (!newOwner.isEmpty()) {
        const bool known = players_.contains(newOwner);
        Player& player = players_[newOwner];
        if (!player.names.contains(name)) {
            player.names.append(name);
        }
        if (!known) {
            readPlayer(newOwner);
            readIdentity(newOwner);
        }
    }
    update();
}

// Calls go to the unique name, so that an answer always belongs to the
// connection asked, whoever owns the well-known names by then.
void NowPlaying::readPlayer(const QString& owner) {
    players_[owner].reading = true;
    call(QDBusMessage::createMethodCall(owner, kPlayerPath, kPropertiesInterface,
                                        QStringLiteral("GetAll"))
             << kPlayerInterface,
         [this, owner](const QDBusMessage& reply) {
             const auto player = players_.find(owner);
             if (player == players_.end()) {
                 return;
             }
             player->reading = false;
             const std::optional<QVariantMap> properties =
                 isReply(reply, "a{sv}") ? asMap(reply.arguments().constFirst()) : std::nullopt;
             if (properties) {
                 player->answered = true;
                 applyPlayerProperties(*player, *properties);
             } else {
                 // No answer in time, an error or nonsense: the player is left
                 // out until it announces a change.
                 player->answered = false;
                 player->status = Status::Stopped;
                 player->track = {};
             }
             update();
         });
}

void NowPlaying::readIdentity(const QString& owner) {
    call(QDBusMessage::createMethodCall(owner, kPlayerPath, kPropertiesInterface,
                                        QStringLiteral("Get"))
             << kRootInterface << QStringLiteral("Identity"),
         [this, owner](const QDBusMessage& reply) {
             const auto player = players_.find(owner);
             if (player != players_.end() && isReply(reply, "v")) {
                 player->identity = textOf(reply.arguments().constFirst());
                 update();
             }
         });
}

void NowPlaying::applyPlayerProperties(Player& player, const QVariantMap& properties) {
    const auto status = properties.constFind(QStringLiteral("PlaybackStatus"));
    if (status != properties.cend()) {
        const QVariant value = unwrapped(*status);
        if (value.userType() == QMetaType::QString) {
            const QString text = value.toString();
            const Status next = text == QLatin1String("Playing")  ? Status::Playing
                                : text == QLatin1String("Paused") ? Status::Paused
                                                                  : Status::Stopped;
            if (next == Status::Playing && player.status != Status::Playing) {
                player.playingSince = ++playingCount_;
            }
            player.status = next;
        }
    }
    const auto metadata = properties.constFind(QStringLiteral("Metadata"));
    if (metadata != properties.cend()) {
        player.track = trackOf(*metadata);
    }
}

void NowPlaying::propertiesChanged(const QDBusMessage& message) {
    const auto player = players_.find(message.service());
    const QList<QVariant> arguments = message.arguments();
    if (player == players_.end() || arguments.size() < 2 ||
        arguments.at(0).userType() != QMetaType::QString) {
        return;
    }
    const std::optional<QVariantMap> changed = asMap(arguments.at(1));
    if (!changed) {
        return;
    }
    const QString interface = arguments.at(0).toString();
    if (interface == kRootInterface && changed->contains(QStringLiteral("Identity"))) {
        player->identity = textOf(changed->value(QStringLiteral("Identity")));
    } else if (interface == kPlayerInterface) {
        const QStringList invalidated =
            arguments.size() > 2 && arguments.at(2).userType() == QMetaType::QStringList
                ? arguments.at(2).toStringList()
                : QStringList();
        if (player->answered) {
            applyPlayerProperties(*player, *changed);
        }
        // A player that did not answer before is read again now that it
        // speaks; one that only says a value changed is asked for it.
        const bool stale = !player->answered || invalidated.contains(QStringLiteral("Metadata")) ||
                           invalidated.contains(QStringLiteral("PlaybackStatus"));
        if (stale && !player->reading) {
            readPlayer(message.service());
        }
    }
    update();
}

void NowPlaying::update() {
    const Player* best = nullptr;
    const QString* bestOwner = nullptr;
    const auto rank = [](const Player& player) {
        return std::pair(player.status == Status::Playing ? 2 : 1, player.playingSince);
    };
    for (auto it = players_.cbegin(); it != players_.cend(); ++it) {
        if (!it->answered || it->status == Status::Stopped) {
            continue;
        }
        // Ties (paused players never seen playing) go by unique name, so
        // that the choice does not depend on the order of the hash.
        if (!best || rank(*it) > rank(*best) ||
            (rank(*it) == rank(*best) && it.key() < *bestOwner)) {
            best = &it.value();
            bestOwner = &it.key();
        }
    }
    std::optional<PlayingTrack> next;
    if (best) {
        next = best->track;
        next->player = best->identity.isEmpty() ? best->names.constFirst() : best->identity;
    }
    if (next != current_) {
        current_ = std::move(next);
        emit changed();
    }
}

}  // namespace pulsaro
