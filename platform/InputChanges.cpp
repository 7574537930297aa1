#include "platform/InputChanges.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {
namespace {

std::mutex ListenersLock;
std::vector<TInputChangeListener *> Listeners;

} // namespace

TInputChangeListener::TInputChangeListener(std::function<void()> OnChange)
    : FOnChange(std::move(OnChange)) {
    std::lock_guard Guard(ListenersLock);
    Listeners.push_back(this);
}

TInputChangeListener::~TInputChangeListener() {
    std::lock_guard Guard(ListenersLock);
    std::erase(Listeners, this);
}

void AnnounceInputChange() {
    std::lock_guard Guard(ListenersLock);
    for (TInputChangeListener *Listener : Listeners)
        Listener->FOnChange();
}

} // namespace platform
