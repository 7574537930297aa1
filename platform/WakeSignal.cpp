#include "platform/WakeSignal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace platform {

TWakeSignal::TWakeSignal() : FFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (FFd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

TWakeSignal::~TWakeSignal() {
    close(FFd);
}

void TWakeSignal::Raise() const {
    const std::uint64_t One = 1;
    [[maybe_unused]] ssize_t Written = write(FFd, &One, sizeof One);
}

void TWakeSignal::Clear() const {
    std::uint64_t Count = 0;
    [[maybe_unused]] ssize_t Read = read(FFd, &Count, sizeof Count);
}

} // namespace platform
