#include "common/stop.hpp"

namespace pelgar {

namespace {

// The one piece of per-thread state: which call's token long loops on this thread obey.
thread_local StopToken* current_token = nullptr;

}  // namespace

bool StopToken::check_now() {
    if (hook_ != nullptr && !stop_requested() && hook_(context_)) request_stop();
    return stop_requested();
}

bool StopToken::check() {
    if (hook_ != nullptr && !stop_requested()) {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_hook_ >= hook_interval) {
            last_hook_ = now;
            if (hook_(context_)) request_stop();
        }
    }
    return stop_requested();
}

StopToken* current_stop_token() noexcept { return current_token; }

StopScope::StopScope(StopToken* token) noexcept : previous_(current_token) { current_token = token; }

StopScope::~StopScope() { current_token = previous_; }

void StopPoll::slow_path() {
    left_ = budget_;
    if (token_->check()) throw Stopped();
}

}  // namespace pelgar
