#include "platform/global_shortcut.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <array>
#include <vector>

#ifdef PULSARO_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#endif

namespace pulsaro {
namespace {

QString noDesktopSupport() {
    return QStringLiteral("This desktop does not let a program listen to a key in other windows.");
}

// Wayland, the offscreen platform and anything else without a way to grab.
class UnavailableShortcut final : public GlobalShortcut {
public:
    bool available() const override { return false; }
    QString setKey(const QKeySequence& key) override {
        return key.isEmpty() ? QString() : noDesktopSupport();
    }
};

#ifdef PULSARO_HAVE_XCB

using KeySym = std::uint32_t;

// The few keysyms named here, from X11/keysymdef.h and XF86keysym.h.
enum : KeySym {
    kSymBackSpace = 0xff08,
    kSymTab = 0xff09,
    kSymReturn = 0xff0d,
    kSymPause = 0xff13,
    kSymScrollLock = 0xff14,
    kSymSysReq = 0xff15,
    kSymEscape = 0xff1b,
    kSymHome = 0xff50,
    kSymLeft = 0xff51,
    kSymUp = 0xff52,
    kSymRight = 0xff53,
    kSymDown = 0xff54,
    kSymPageUp = 0xff55,
    kSymPageDown = 0xff56,
    kSymEnd = 0xff57,
    kSymPrint = 0xff61,
    kSymInsert = 0xff63,
    kSymMenu = 0xff67,
    kSymHelp = 0xff6a,
    kSymNumLock = 0xff7f,
    kSymKpEnter = 0xff8d,
    kSymKpMultiply = 0xffaa,
    kSymKpAdd = 0xffab,
    kSymKpSeparator = 0xffac,
    kSymKpSubtract = 0xffad,
    kSymKpDecimal = 0xffae,
    kSymKpDivide = 0xffaf,
    kSymKp0 = 0xffb0,
    kSymKpEqual = 0xffbd,
    kSymF1 = 0xffbe,
    kSymAltL = 0xffe9,
    kSymAltR = 0xffea,
    kSymSuperL = 0xffeb,
    kSymSuperR = 0xffec,
    kSymDelete = 0xffff,
    kSymIsoLeftTab = 0xfe20,
    kSymAudioLowerVolume = 0x1008ff11,
    kSymAudioMute = 0x1008ff12,
    kSymAudioRaiseVolume = 0x1008ff13,
    kSymAudioPlay = 0x1008ff14,
    kSymAudioStop = 0x1008ff15,
    kSymAudioPrev = 0x1008ff16,
    kSymAudioNext = 0x1008ff17,
    kSymAudioPause = 0x1008ff31,
    kSymUnicodeBase = 0x01000000,
};

// The keysym a Qt key stands for; 0 for the keys that cannot be grabbed
// alone (the modifiers and locks) or that X has no name for.
KeySym keysymOf(int key, bool keypad) {
    if (keypad) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            return kSymKp0 + KeySym(key - Qt::Key_0);
        switch (key) {
            case Qt::Key_Asterisk:
                return kSymKpMultiply;
            case Qt::Key_Plus:
                return kSymKpAdd;
            case Qt::Key_Minus:
                return kSymKpSubtract;
            case Qt::Key_Period:
                return kSymKpDecimal;
            case Qt::Key_Comma:
                return kSymKpSeparator;
            case Qt::Key_Slash:
                return kSymKpDivide;
            case Qt::Key_Equal:
                return kSymKpEqual;
            default:
                break;
        }
    }
    // Qt names a printable key by its character (capital letters); X by the
    // Latin-1 code (small letters) or the Unicode code point above it.
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return KeySym(key - Qt::Key_A + 'a');
    if (key >= 0x20 && key <= 0xff)
        return KeySym(key);
    if (key > 0xff && key < Qt::Key_Escape)
        return kSymUnicodeBase | KeySym(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return kSymF1 + KeySym(key - Qt::Key_F1);
    switch (key) {
        case Qt::Key_Escape:
            return kSymEscape;
        case Qt::Key_Tab:
            return kSymTab;
        case Qt::Key_Backtab:
            return kSymIsoLeftTab;
        case Qt::Key_Backspace:
            return kSymBackSpace;
        case Qt::Key_Return:
            return kSymReturn;
        case Qt::Key_Enter:
            return kSymKpEnter;
        case Qt::Key_Insert:
            return kSymInsert;
        case Qt::Key_Delete:
            return kSymDelete;
        case Qt::Key_Pause:
            return kSymPause;
        case Qt::Key_Print:
            return kSymPrint;
        case Qt::Key_SysReq:
            return kSymSysReq;
        case Qt::Key_Home:
            return kSymHome;
        case Qt::Key_End:
            return kSymEnd;
        case Qt::Key_Left:
            return kSymLeft;
        case Qt::Key_Up:
            return kSymUp;
        case Qt::Key_Right:
            return kSymRight;
        case Qt::Key_Down:
            return kSymDown;
        case Qt::Key_PageUp:
            return kSymPageUp;
        case Qt::Key_PageDown:
            return kSymPageDown;
        case Qt::Key_Menu:
            return kSymMenu;
        case Qt::Key_Help:
            return kSymHelp;
        case Qt::Key_MediaPlay:
        case Qt::Key_MediaTogglePlayPause:
            return kSymAudioPlay;
        case Qt::Key_MediaPause:
            return kSymAudioPause;
        case Qt::Key_MediaStop:
            return kSymAudioStop;
        case Qt::Key_MediaPrevious:
            return kSymAudioPrev;
        case Qt::Key_MediaNext:
            return kSymAudioNext;
        case Qt::Key_VolumeMute:
            return kSymAudioMute;
        case Qt::Key_VolumeDown:
            return kSymAudioLowerVolume;
        case Qt::Key_VolumeUp:
            return kSymAudioRaiseVolume;
        default:
            return 0;
    }
}

template <typename T>
struct FreeReply {
    void operator()(T* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply<T>>;

// The server's keyboard: which keysyms each keycode gives, and which keycodes
// drive each of the eight modifier bits.
class Keymap {
public:
    bool load(xcb_connection_t* connection) {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        minKeycode_ = setup->min_keycode;
        const auto count = std::uint8_t(setup->max_keycode - setup->min_keycode + 1);
        const Reply<xcb_get_keyboard_mapping_reply_t> keys(xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, minKeycode_, count), nullptr));
        const Reply<xcb_get_modifier_mapping_reply_t> modifiers(xcb_get_modifier_mapping_reply(
            connection, xcb_get_modifier_mapping(connection), nullptr));
        if (!keys || !modifiers || keys->keysyms_per_keycode == 0)
            return false;
        symsPerKeycode_ = keys->keysyms_per_keycode;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(keys.get());
        syms_.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(keys.get()));
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modifiers.get());
        const int perModifier = modifiers->keycodes_per_modifier;
        for (int bit = 0; bit < 8; ++bit)
            modifierKeycodes_[std::size_t(bit)].assign(codes + bit * perModifier,
                                                       codes + (bit + 1) * perModifier);
        return true;
    }

    // Every keycode that gives sym at any shift level.
    std::vector<xcb_keycode_t> keycodesOf(KeySym sym) const {
        std::vector<xcb_keycode_t> found;
        for (std::size_t i = 0; i < syms_.size(); ++i) {
            const auto code = xcb_keycode_t(minKeycode_ + i / symsPerKeycode_);
            if (syms_[i] == sym && (found.empty() || found.back() != code))
                found.push_back(code);
        }
        return found;
    }

    // The modifier bit set by a key giving one of syms (the first of them
    // that sets one); fallback when none does.
    std::uint16_t maskOf(std::initializer_list<KeySym> syms, std::uint16_t fallback) const {
        for (const KeySym sym : syms) {
            const std::vector<xcb_keycode_t> codes = keycodesOf(sym);
            for (int bit = 0; bit < 8; ++bit)
                for (const xcb_keycode_t code : modifierKeycodes_[std::size_t(bit)])
                    if (code != 0 && std::find(codes.begin(), codes.end(), code) != codes.end())
                        return std::uint16_t(1u << bit);
        }
        return fallback;
    }

private:
    xcb_keycode_t minKeycode_ = 0;
    std::size_t symsPerKeycode_ = 1;
    std::vector<xcb_keysym_t> syms_;
    std::array<std::vector<xcb_keycode_t>, 8> modifierKeycodes_;
};

constexpr std::uint16_t kModifierBits = 0xff;  // Shift, Lock, Control, Mod1 to Mod5
constexpr std::uint8_t kBadAccess = 10;
// Two presses of a held key further apart than this are not autorepeat: the
// release between them went to another client (a screen locker grabbing the
// keyboard, say), so the key is pressed anew.
constexpr std::uint32_t kRepeatGapMs = 2000;

// A passive grab of the key on every root window: the server sends the press
// to this client whichever window has the focus (this program's own windows
// included, which then do not see it).
class X11GlobalShortcut final : public GlobalShortcut, public QAbstractNativeEventFilter {
public:
    explicit X11GlobalShortcut(xcb_connection_t* connection) : connection_(connection) {
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem;
             xcb_screen_next(&it))
            roots_.push_back(it.data->root);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    ~X11GlobalShortcut() override {
        // Without the application its connection is closed, and the grabs with it.
        if (QCoreApplication::instance() == nullptr)
            return;
        QCoreApplication::instance()->removeNativeEventFilter(this);
        release();
    }

    bool available() const override { return true; }

    QString setKey(const QKeySequence& key) override {
        release();
        if (key.isEmpty())
            return {};
        const QKeyCombination combination = key[0];
        const QString name = QKeySequence(combination).toString(QKeySequence::NativeText);
        const Qt::KeyboardModifiers qtModifiers = combination.keyboardModifiers();
        const KeySym sym = keysymOf(combination.key(), qtModifiers & Qt::KeypadModifier);
        if (sym == 0)
            return QStringLiteral("%1 cannot be a key for all windows.").arg(name);
        Keymap keymap;
        if (!keymap.load(connection_))
            return QStringLiteral("The window system did not tell the keyboard layout.");
        std::vector<xcb_keycode_t> keycodes = keymap.keycodesOf(sym);
        if (keycodes.empty())
            return QStringLiteral("No key on this keyboard gives %1.").arg(name);

        std::uint16_t modifiers = 0;
        if (qtModifiers & Qt::ShiftModifier)
            modifiers |= XCB_MOD_MASK_SHIFT;
        if (qtModifiers & Qt::ControlModifier)
            modifiers |= XCB_MOD_MASK_CONTROL;
        if (qtModifiers & Qt::AltModifier)
            modifiers |= keymap.maskOf({kSymAltL, kSymAltR}, XCB_MOD_MASK_1);
        // Qt's Meta is the logo key, Super on X11 (Meta_L often shares a key
        // and a modifier with Alt).
        if (qtModifiers & Qt::MetaModifier)
            modifiers |= keymap.maskOf({kSymSuperL, kSymSuperR}, XCB_MOD_MASK_4);
        // The locks must not change the key: it is grabbed with each of their
        // combinations.
        std::uint16_t locks = XCB_MOD_MASK_LOCK | keymap.maskOf({kSymNumLock}, 0) |
                              keymap.maskOf({kSymScrollLock}, 0);
        locks &= std::uint16_t(~modifiers);

        keycodes_ = std::move(keycodes);
        modifiers_ = modifiers;
        locks_ = locks;
        std::vector<xcb_void_cookie_t> cookies;
        forEachGrab([&](xcb_window_t root, xcb_keycode_t code, std::uint16_t mask) {
            cookies.push_back(xcb_grab_key_checked(connection_, 0, root, mask, code,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        });
        std::uint8_t error = 0;
        for (const xcb_void_cookie_t cookie : cookies) {
            const Reply<xcb_generic_error_t> reply(xcb_request_check(connection_, cookie));
            if (reply && error == 0)
                error = reply->error_code;
        }
        if (error == 0)
            return {};
        release();
        if (error == kBadAccess)
            return QStringLiteral("Another program already uses %1 as its own key.").arg(name);
        return QStringLiteral("The window system refused to give %1 (X error %2).")
            .arg(name)
            .arg(error);
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (keycodes_.empty() || eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const std::uint8_t type = event->response_type & 0x7f;
        if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
            return false;
        // Press and release events share one layout.
        const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
        if (std::find(roots_.begin(), roots_.end(), key->event) == roots_.end() ||
            std::find(keycodes_.begin(), keycodes_.end(), key->detail) == keycodes_.end())
            return false;
        if (type == XCB_KEY_RELEASE) {
            down_ = false;
            lastRelease_ = key->time;
            return true;
        }
        // A held key repeats as release and press pairs with one time stamp,
        // or, where the client asked XKB for detectable autorepeat, as presses
        // alone.
        const bool repeat = (down_ && std::uint32_t(key->time - lastPress_) < kRepeatGapMs) ||
                            (!down_ && key->time == lastRelease_);
        if (!repeat && (key->state & kModifierBits & ~locks_) != modifiers_)
            return false;
        down_ = true;
        lastPress_ = key->time;
        if (!repeat)
            emit activated(key->time);
        return true;
    }

private:
    template <typename F>
    void forEachGrab(F&& f) const {
        for (const xcb_window_t root : roots_)
            for (const xcb_keycode_t code : keycodes_)
                for (std::uint16_t mask = locks_;; mask = std::uint16_t((mask - 1) & locks_)) {
                    f(root, code, std::uint16_t(modifiers_ | mask));
                    if (mask == 0)
                        break;
                }
    }

    // Ungrabbing a combination this client does not hold does nothing, so a
    // grab that failed halfway is undone the same way.
    void release() {
        if (keycodes_.empty())
            return;
        forEachGrab([&](xcb_window_t root, xcb_keycode_t code, std::uint16_t mask) {
            xcb_ungrab_key(connection_, code, root, mask);
        });
        xcb_flush(connection_);
        keycodes_.clear();
        down_ = false;
    }

    xcb_connection_t* connection_;
    std::vector<xcb_window_t> roots_;
    std::vector<xcb_keycode_t> keycodes_;
    std::uint16_t modifiers_ = 0;
    std::uint16_t locks_ = 0;
    bool down_ = false;
    xcb_timestamp_t lastPress_ = 0;
    xcb_timestamp_t lastRelease_ = 0;
};

#endif  // PULSARO_HAVE_XCB

}  // namespace

std::unique_ptr<GlobalShortcut> makeGlobalShortcut() {
#ifdef PULSARO_HAVE_XCB
    if (qGuiApp != nullptr && QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
            if (xcb_connection_t* connection = x11->connection())
                return std::make_unique<X11GlobalShortcut>(connection);
    }
#endif
    return std::make_unique<UnavailableShortcut>();
}

}  // namespace pulsaro
