// PLACEHOLDER until the X11 grab is written: never available.
#include "platform/global_shortcut.h"

namespace pulsaro {
namespace {
class NoGlobalShortcut final : public GlobalShortcut {
public:
    bool available() const override { return false; }
    QString setKey(const QKeySequence& key) override {
        return key.isEmpty() ? QString() : QStringLiteral("not built yet");
    }
};
}  // namespace
std::unique_ptr<GlobalShortcut> makeGlobalShortcut() {
    return std::make_unique<NoGlobalShortcut>();
}
}  // namespace pulsaro
