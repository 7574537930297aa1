#include "platform/ShortTurns.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace platform {
namespace {

// The kernel's struct sched_attr as its first version laid it out; the C library has
// no declaration of it.
struct TSchedulingAttributes {
    std::uint32_t Size = sizeof(TSchedulingAttributes);
    std::uint32_t Policy = 0;
    std::uint64_t Flags = 0;
    std::int32_t Nice = 0;
    std::uint32_t Priority = 0;
    // The turn's length in nanoseconds, for the normal policies.
    std::uint64_t Runtime = 0;
    std::uint64_t Deadline = 0;
    std::uint64_t Period = 0;
};
static_assert(sizeof(TSchedulingAttributes) == 48);

// The shortest turn the kernel grants.
constexpr std::uint64_t ShortTurnNanoseconds = 100'000;
// Threads started afterwards take the usual turns (and a nice value below 0 back to 0).
constexpr std::uint64_t ResetOnFork = 0x01;

} // namespace

bool AskForShortTurns() {
    TSchedulingAttributes Attributes;
    if (syscall(SYS_sched_getattr, 0, &Attributes, sizeof Attributes, 0) != 0)
        return false;
    if (Attributes.Policy != SCHED_OTHER && Attributes.Policy != SCHED_BATCH)
        return false;
    Attributes.Size = sizeof Attributes;
    // Only the calling thread: the threads it starts wake when it hands them work, and
    // with short turns of their own they would take the processor from it at once. A
    // raised priority (a nice value below 0) is kept for them instead.
    Attributes.Flags = (Attributes.Flags & ResetOnFork) | (Attributes.Nice >= 0 ? ResetOnFork : 0);
    Attributes.Runtime = ShortTurnNanoseconds;
    return syscall(SYS_sched_setattr, 0, &Attributes, 0) == 0;
}

} // namespace platform
