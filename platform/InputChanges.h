#pragma once

// News that a sound input may have become available (a sound server answers, it has a
// new source): whoever waits for an input tries again at once instead of at its next
// attempt. Announced on any thread; each listener is called on the announcing thread
// and should only pass the news on to its own.

#include <functional>

namespace platform {

class TInputChangeListener {
public:
    explicit TInputChangeListener(std::function<void()> OnChange);
    // Once this returns, the listener is not called any more.
    ~TInputChangeListener();
    TInputChangeListener(const TInputChangeListener &) = delete;
    TInputChangeListener &operator=(const TInputChangeListener &) = delete;

private:
    friend void AnnounceInputChange();
    std::function<void()> FOnChange;
};

void AnnounceInputChange();

} // namespace platform
