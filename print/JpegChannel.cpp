#include "JpegChannel.h"

#include <jerror.h>

#include <utility>

namespace terralume::print {

void ByteChannel::push(Chunk &&chunk)
{
    std::lock_guard lock(mutex_);
    chunks_.push_back(std::move(chunk));
    ready_.notify_one();
}

void ByteChannel::close(bool failed)
{
    std::lock_guard lock(mutex_);
    closed_ = true;
    broken_ = failed;
    ready_.notify_one();
}

bool ByteChannel::pop(Chunk &chunk)
{
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !chunks_.empty() || closed_; });
    if (chunks_.empty() || broken_)
        return false;
    chunk = std::move(chunks_.front());
    chunks_.pop_front();
    return true;
}

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

// The library's callbacks must not throw: a fatal error leaves them through
// the library's error exit, which does not return. Allocation failures become
// the library's own out-of-memory error, raised outside the catch block so
// that the exit leaves no C++ frame half unwound.
void newChunk(j_compress_ptr info)
{
    auto *dest = static_cast<ChannelDestination *>(info->dest);
    bool allocated = true;
    try {
        dest->buffer.assign(kChunkBytes, 0);
    } catch (...) {
        allocated = false;
    }
    if (!allocated)
        ERREXIT(info, JERR_OUT_OF_MEMORY);
    dest->next_output_byte = dest->buffer.data();
    dest->free_in_buffer = dest->buffer.size();
}

bool handOver(ChannelDestination &dest)
{
    try {
        dest.channel.push(std::move(dest.buffer));
    } catch (...) {
        return false;
    }
    dest.buffer = ByteChannel::Chunk();
    return true;
}

void initDestination(j_compress_ptr info) { newChunk(info); }

boolean emptyDestination(j_compress_ptr info)
{
    auto *dest = static_cast<ChannelDestination *>(info->dest);
    if (dest->stop.stop_requested()) {
        dest->stopped = true;
        ERREXIT(info, JERR_FILE_WRITE);
    }
    if (!handOver(*dest)) // the whole buffer, as the library asks
        ERREXIT(info, JERR_OUT_OF_MEMORY);
    newChunk(info);
    return TRUE;
}

void termDestination(j_compress_ptr info)
{
    auto *dest = static_cast<ChannelDestination *>(info->dest);
    dest->buffer.resize(dest->buffer.size() - dest->free_in_buffer);
    if (!handOver(*dest))
        ERREXIT(info, JERR_OUT_OF_MEMORY);
}

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillSource(j_decompress_ptr info)
{
    auto *src = static_cast<ChannelSource *>(info->src);
    bool kept = true;
    try {
        src->keepCurrent();
    } catch (...) {
        kept = false;
    }
    if (!kept)
        ERREXIT(info, JERR_OUT_OF_MEMORY);
    bool more = false;
    try {
        more = src->channel.pop(src->current);
    } catch (...) {
        more = false;
    }
    if (!more || src->current.empty()) {
        WARNMS(info, JWRN_JPEG_EOF);
        src->next_input_byte = kEndOfImage;
        src->bytes_in_buffer = 2;
        return TRUE;
    }
    src->next_input_byte = src->current.data();
    src->bytes_in_buffer = src->current.size();
    return TRUE;
}

void skipSource(j_decompress_ptr info, long count)
{
    auto *src = static_cast<ChannelSource *>(info->src);
    while (count > 0 && static_cast<std::size_t>(count) > src->bytes_in_buffer) {
        count -= static_cast<long>(src->bytes_in_buffer);
        fillSource(info);
    }
    if (count > 0) {
        src->next_input_byte += count;
        src->bytes_in_buffer -= static_cast<std::size_t>(count);
    }
}

} // namespace

ChannelDestination::ChannelDestination(ByteChannel &channel, std::stop_token stop)
    : jpeg_destination_mgr{}, channel(channel), stop(std::move(stop))
{
    init_destination = initDestination;
    empty_output_buffer = emptyDestination;
    term_destination = termDestination;
}

void ChannelSource::keepCurrent()
{
    if (kept != nullptr && !current.empty()) {
        kept->push_back(std::move(current));
        current = ByteChannel::Chunk();
    }
}

ChannelSource::ChannelSource(ByteChannel &channel, std::vector<ByteChannel::Chunk> *kept)
    : jpeg_source_mgr{}, channel(channel), kept(kept)
{
    init_source = initSource;
    fill_input_buffer = fillSource;
    skip_input_data = skipSource;
    resync_to_restart = jpeg_resync_to_restart;
    term_source = termSource;
}

} // namespace terralume::print
