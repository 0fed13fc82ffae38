// PLACEHOLDER until the Link session is written: never joins.
#include "platform/link_session.h"

namespace pulsaro {
namespace {
class NoLinkSession final : public LinkSession {
public:
    void setEnabled(bool, int) override {}
    bool enabled() const override { return false; }
    void publish(double, double, std::int64_t) override {}
    State state() const override { return {}; }
    void setChangeHandler(std::function<void()>) override {}
};
}  // namespace
std::unique_ptr<LinkSession> makeAbletonLinkSession() {
    return std::make_unique<NoLinkSession>();
}
}  // namespace pulsaro
