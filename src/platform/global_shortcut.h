#pragma once

#include <QKeySequence>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

namespace pulsaro {

// A key that reaches this program while another window has the keyboard
// focus. Nothing is grabbed until setKey() is given one.
class GlobalShortcut : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~GlobalShortcut() override = default;

    // Whether this desktop lets a program have a global key at all.
    virtual bool available() const = 0;
    // Takes key (one key with its modifiers) for the whole desktop, releasing
    // the key held before; an empty sequence only releases. Returns an empty
    // text on success, else why the key could not be taken (another program
    // holds it, the desktop offers no way); then no key is held.
    virtual QString setKey(const QKeySequence& key) = 0;

signals:
    // The key was pressed, once per press: a held key does not repeat. Sent
    // whichever window has the focus, this program's own included (which
    // then does not see the key itself). eventTimeMs is the window system's
    // time stamp of the press (0 when it has none), to be mapped like a key
    // press in the window.
    void activated(std::uint64_t eventTimeMs);
};

// X11: a passive grab on the root window, on the connection of the running
// QGuiApplication (create it after the application). Elsewhere (Wayland, the
// offscreen platform) an object that says it is not available.
std::unique_ptr<GlobalShortcut> makeGlobalShortcut();

}  // namespace pulsaro
