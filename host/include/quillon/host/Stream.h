// The streams the services table's open-stream entry makes: over memory and over files.
#ifndef QUILLON_HOST_STREAM_H
#define QUILLON_HOST_STREAM_H

#include <quillon/quillon.h>

#include <memory>

namespace quillon {

// Makes a stream, or null.
// - Null path, mode "a+b" or "w+b": a memory stream, empty, readable and writable. With "a+b"
//   every write goes to the end, as with fopen's append modes; with "w+b" it goes to the position.
//   It holds at most 0x7FFFFFFF bytes; a write that would pass that fails (0 bytes written).
// - A path with mode "rb", "wb", "ab", "r+b", "w+b" or "a+b" (a '+' may also stand last): the file,
//   opened at once as fopen opens it with that mode; null when it cannot be opened.
// Entries: open starts the stream over as its mode prescribes (a memory stream becomes empty, a file
// is reopened, so "wb" truncates it again and "rb" reads from the start), nonzero on success; read
// and write give the bytes moved; seek takes origin 0 (start), 1 (position) or 2 (end), nonzero on
// success, and refuses a negative position (a position beyond the end is allowed, and a write there
// fills the gap with zero bytes); tell gives the position or -1; close closes and frees the object.
QLStream *openStream(const char *pszPath, const char *pszMode);

// Owns a stream made by openStream and closes it when it goes.
struct StreamCloser {
    void operator()(QLStream *pStream) const {
        if (pStream != nullptr)
            pStream->fpClose(pStream);
    }
};
using StreamPtr = std::unique_ptr<QLStream, StreamCloser>;

} // namespace quillon

#endif
