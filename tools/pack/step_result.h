#pragma once
// How a step of velmar-pack ended: done, refused with the message for the
// user, or interrupted (Ctrl-C, SIGTERM, a closed console). An interruption is
// its own case: no step wraps it in a reason of its own, and the command
// turns it into the one line that says what is not written.
#include <string>
#include <utility>

#include "tools/pack/interruption.h"

class StepResult {
  public:
    static StepResult Done() { return StepResult(State::Done, std::string()); }
    static StepResult Failed(std::string message) {
        return StepResult(State::Failed, std::move(message));
    }
    static StepResult Interruption() { return StepResult(State::Interrupted, "interrupted"); }
    // The result of a step that reports done or a message: an interruption
    // when the user interrupted the run while it failed.
    static StepResult From(bool done, std::string message) {
        if (done) {
            return Done();
        }
        return Interrupted() ? Interruption() : Failed(std::move(message));
    }

    bool done() const { return state_ == State::Done; }
    bool interrupted() const { return state_ == State::Interrupted; }
    // The failure's text; "interrupted" for an interruption, empty when done.
    const std::string& message() const { return message_; }
    // A failure with context in front of its message; done and interrupted
    // stay as they are.
    StepResult Within(const std::string& context) const {
        return state_ == State::Failed ? Failed(context + message_) : *this;
    }

  private:
    enum class State { Done, Failed, Interrupted };
    StepResult(State state, std::string message) : state_(state), message_(std::move(message)) {}
    State state_;
    std::string message_;
};
