#include "recordings/StreamIo.h"

#include "cli/ToolMain.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace {

// Enough for any header, and for a short recording read through to what follows it.
constexpr sf_count_t KeptLimit = 1 << 20;
// The length of a stream is not known: far beyond any recording, with room to add to.
constexpr sf_count_t UnknownLength = sf_count_t(1) << 62;

TStreamIo &Stream(void *User) {
    return *static_cast<TStreamIo *>(User);
}

} // namespace

TStreamIo::TStreamIo(int Descriptor, std::string Name, std::string Head, bool Owned)
    : FDescriptor(Descriptor), FOwned(Owned), FName(std::move(Name)), FKept(std::move(Head)),
      FConsumed(sf_count_t(FKept.size())) {}

TStreamIo::~TStreamIo() {
    if (FOwned)
        close(FDescriptor);
}

SF_VIRTUAL_IO &TStreamIo::Callbacks() {
    static SF_VIRTUAL_IO Io{
        [](void *) { return UnknownLength; },
        [](sf_count_t Offset, int Whence, void *User) { return Stream(User).Seek(Offset, Whence); },
        [](void *Bytes, sf_count_t Count, void *User) {
            return Stream(User).Read(static_cast<char *>(Bytes), Count);
        },
        nullptr,
        [](void *User) { return Stream(User).FPosition; },
    };
    return Io;
}

void TStreamIo::ThrowIfFailed() const {
    if (FError)
        throw EToolError(FName + ": " + std::strerror(FError));
}

// Fills the request where the stream allows: some of libsndfile's readers take a
// short read for the end.
sf_count_t TStreamIo::Read(char *Bytes, sf_count_t Count) {
    sf_count_t Done = 0;
    while (Done < Count) {
        const auto Kept = sf_count_t(FKept.size());
        sf_count_t Got = 0;
        if (FPosition < Kept) {
            Got = std::min(Count - Done, Kept - FPosition);
            std::memcpy(Bytes + Done, FKept.data() + FPosition, std::size_t(Got));
        } else if (FPosition == FConsumed) {
            Got = Receive(Bytes + Done, Count - Done);
        } else if (ReadThrough()) {
            continue;
        }
        if (Got == 0)
            break;
        FPosition += Got;
        Done += Got;
    }
    return Done;
}

// Where the end of the stream is, is not known; bytes read but no longer kept cannot be
// read again.
sf_count_t TStreamIo::Seek(sf_count_t Offset, int Whence) {
    if (Whence != SEEK_SET && Whence != SEEK_CUR)
        return -1;
    const sf_count_t Target = (Whence == SEEK_SET ? 0 : FPosition) + Offset;
    if (Target < 0 || (Target >= sf_count_t(FKept.size()) && Target < FConsumed))
        return -1;
    FPosition = Target;
    return FPosition;
}

bool TStreamIo::ReadThrough() {
    if (FPosition > KeptLimit || sf_count_t(FKept.size()) != FConsumed)
        return false;
    char Skipped[4096];
    return Receive(Skipped, std::min<sf_count_t>(sizeof Skipped, FPosition - FConsumed)) > 0;
}

sf_count_t TStreamIo::Receive(char *Bytes, sf_count_t Count) {
    if (FEnded)
        return 0;
    const ssize_t Got = read(FDescriptor, Bytes, std::size_t(Count));
    if (Got <= 0) {
        FEnded = true; // at the end, or stopped by a signal as the end would stop it
        if (Got < 0 && errno != EINTR)
            FError = errno;
        return 0;
    }
    if (sf_count_t(FKept.size()) == FConsumed && FConsumed < KeptLimit)
        FKept.append(Bytes, std::size_t(Got));
    FConsumed += Got;
    return Got;
}
