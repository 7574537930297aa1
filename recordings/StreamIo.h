#pragma once

// libsndfile's reading of a stream that cannot seek (standard input, a pipe): its
// readers jump about in a header, past the samples to look for chunks after them, and
// towards the end to find the length. The first bytes are kept so that jumps back into
// them work; a jump ahead is read through while it stays within them, and beyond them
// it stands for the end of the stream, so a live stream is never read ahead. A jump
// from the end is refused: a stream's length is not known.

#include <sndfile.h>

#include <string>

class TStreamIo {
public:
    // Head: the first bytes of the stream, already read from Descriptor. Name (as
    // "standard input") begins the message of a read error. Owned: Descriptor is
    // closed with this object.
    TStreamIo(int Descriptor, std::string Name, std::string Head, bool Owned = false);
    ~TStreamIo();
    TStreamIo(const TStreamIo &) = delete;
    TStreamIo &operator=(const TStreamIo &) = delete;

    // The callbacks for sf_open_virtual, with this object as their user data.
    static SF_VIRTUAL_IO &Callbacks();
    // The errno of a read that failed, which libsndfile took for the end of the
    // stream; 0 if none did.
    int Error() const { return FError; }
    // EToolError, naming the stream, when a read failed.
    void ThrowIfFailed() const;

private:
    sf_count_t Read(char *Bytes, sf_count_t Count);
    sf_count_t Seek(sf_count_t Offset, int Whence);
    // One read from the descriptor, kept while the kept bytes reach up to it; 0 at the
    // end of the stream, after a read error, or when a stop signal interrupts it.
    sf_count_t Receive(char *Bytes, sf_count_t Count);
    // Reads through to the position if that keeps every byte up to it.
    bool ReadThrough();

    int FDescriptor;
    bool FOwned;
    std::string FName;
    std::string FKept;        // the stream's first bytes
    sf_count_t FConsumed;     // bytes read from the descriptor
    sf_count_t FPosition = 0; // where libsndfile reads next
    bool FEnded = false;
    int FError = 0;
};
