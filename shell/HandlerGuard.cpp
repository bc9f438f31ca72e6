// The general error handler: every click, tick and port event of the program runs through it.
#include "HandlerGuard.h"

#include <exception>

#include "AppError.h"

HandlerGuard::HandlerGuard(std::function<void(const QString&)> showError)
    : showError_(std::move(showError)) {}

bool HandlerGuard::Run(const std::function<void()>& handler) const {
    // Qt cannot carry an exception out of an event handler, so none may leave this frame.
    QString message;
    try {
        handler();
        return true;
    } catch (const AppError& e) {
        message = e.message();
    } catch (const std::exception& e) {
        message = QString::fromLocal8Bit(e.what());
    } catch (...) {
        message = QStringLiteral("Unknown error");
    }
    if (showError_) showError_(message);
    return false;
}

std::function<void()> HandlerGuard::Wrap(std::function<void()> handler) const {
    return [this, handler = std::move(handler)] { Run(handler); };
}

namespace {

class GuardedTimer : public Timer {
public:
    GuardedTimer(std::unique_ptr<Timer> inner, const HandlerGuard& guard) : inner_(std::move(inner)) {
        inner_->setHandler([this, &guard] { guard.Run([this] { fire(); }); });
    }
    void setInterval(int ms) override { inner_->setInterval(ms); }
    int interval() const override { return inner_->interval(); }
    void start() override { inner_->start(); }
    void stop() override { inner_->stop(); }
    bool isActive() const override { return inner_->isActive(); }

private:
    std::unique_ptr<Timer> inner_;
};

}  // namespace

std::unique_ptr<Timer> GuardedClock::createTimer() {
    return std::make_unique<GuardedTimer>(inner_.createTimer(), guard_);
}
