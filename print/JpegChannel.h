#pragma once
// The compressed bytes of the print round trip on their way from the
// compressor to the decoder, and the library's destination and source
// managers that write into and read from them. The compressor may run on a
// thread of its own: the decoder then reads the first chunks while the
// compressor still writes the last ones.

#include <condition_variable>
#include <cstddef>
#include <cstdio> // jpeglib.h needs FILE declared first
#include <deque>
#include <mutex>
#include <stop_token>
#include <vector>

#include <jpeglib.h>

namespace terralume::print {

class ByteChannel {
public:
    using Chunk = std::vector<JOCTET>;

    void push(Chunk &&chunk);
    // The writer is done; `failed` when it stopped on a fatal error, so that
    // the reader does not take a truncated stream for the whole of it.
    void close(bool failed);
    // Blocks until a chunk comes; false once all are read or on failure.
    bool pop(Chunk &chunk);

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Chunk> chunks_;
    bool closed_ = false;
    bool broken_ = false;
};

// Hands the compressor's output to `channel` in 64 KiB chunks. Once `stop` is
// requested the next chunk fails with the library's write error and
// `stopped` is set, so that the caller can tell being stopped from failing.
struct ChannelDestination : jpeg_destination_mgr {
    ChannelDestination(ByteChannel &channel, std::stop_token stop);

    ByteChannel &channel;
    std::stop_token stop;
    ByteChannel::Chunk buffer;
    bool stopped = false;
};

// Feeds the decoder from `channel`. When the channel ends early the image is
// ended with the library's premature-end warning, as its memory source does.
// With `kept` set, every chunk read is moved there once it is used up (call
// keepCurrent() after the last), so that the same stream can be read again.
struct ChannelSource : jpeg_source_mgr {
    explicit ChannelSource(ByteChannel &channel, std::vector<ByteChannel::Chunk> *kept = nullptr);

    // Throws std::bad_alloc when there is no room to keep it.
    void keepCurrent();

    ByteChannel &channel;
    ByteChannel::Chunk current;
    std::vector<ByteChannel::Chunk> *kept;
};

} // namespace terralume::print
