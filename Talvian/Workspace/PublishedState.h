#pragma once
// One published slice of the controller's state. The first write within an operation keeps
// the value from before it, so that the operation's end can tell whether the slice changed;
// slices are copied only when written, at most once per operation. Main thread.

#include <optional>

namespace talvian {

class Workspace;

template <class State>
class Published {
  public:
    const State& operator*() const { return value_; }
    const State* operator->() const { return &value_; }

  private:
    // Only the controller writes, through its own helpers (which see whether an operation runs).
    friend class Workspace;

    State& edit() {
        if (!before_) before_.emplace(value_);
        return value_;
    }
    // True when the value differs from the one before the operation's first write; forgets it.
    bool settle() {
        if (!before_) return false;
        const bool changed = !(*before_ == value_);
        before_.reset();
        return changed;
    }

    State value_;
    std::optional<State> before_;
};

}  // namespace talvian
