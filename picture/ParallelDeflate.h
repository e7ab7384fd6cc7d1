#pragma once
// One zlib stream made on every core: the rows are cut into runs of about a
// megabyte, the cores deflate the runs each into a piece that ends on a byte
// boundary (a sync flush), and the pieces are laid end to end under one
// header and one checksum, so any inflater reads them as a single stream.
// Each run starts from the window of input before it, so the cuts cost next
// to nothing in size; they fall by the input alone, so the same rows make
// the same bytes on any number of cores.

#include <QByteArray>

#include <cstdint>
#include <functional>

namespace terralume {

// Writes row `row`, exactly the row length asked for, at `out`. Called
// from several threads at once, each time for a different row.
using RowSource = std::function<void(int row, std::uint8_t *out)>;

// Rows 0..rowCount-1 of `rowBytes` bytes each, as `source` gives them, as
// one zlib stream (RFC 1950) at zlib's `level` (1, the fastest, to 9). The
// input is never held whole: a thread keeps a few rows at a time. Throws
// std::bad_alloc when memory for the stream cannot be had.
QByteArray deflateRows(int rowCount, qsizetype rowBytes, const RowSource &source, int level = 1);

} // namespace terralume
