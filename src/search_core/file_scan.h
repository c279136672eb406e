// The search of one file, the one per-file driver of every search: it reads
// the file (or decodes a host's buffer), applies the binary test, scans the
// text, enforces the per-file cap, and asks the stop check between chunks of
// reading and of scanning. Its matches go to a receiver: the search's own
// accounting on the calling thread, or a helper's buffer in a parallel
// search, which the calling thread later replays into the same accounting.
//
// A file_scanner belongs to one thread and is reused from file to file; it
// owns the read buffers and the scanner (with the pattern's scratch).
#ifndef QG_FILE_SCAN_H
#define QG_FILE_SCAN_H

#include "grep_core/options.h"
#include "grep_core/regex.h"
#include "grep_core/text_read.h"
#include "search_core/scan.h"

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

// Receives one file's scan: `begin` once the file is known to be text, then
// its matches in order, then `end` (also after a stop). `begin` and `match`
// return false when the scan must stop.
typedef struct match_receiver {
  void *ctx;
  bool (*begin)(void *ctx);
  bool (*match)(void *ctx, const scan_match *m);
  void (*end)(void *ctx);
} match_receiver;

// How one file's search ended.
typedef enum file_outcome {
  FILE_SCANNED = 0,     // read and scanned to its end, or to its per-file cap
  FILE_BINARY = 1,      // read, and passed over as binary: nothing received
  FILE_UNREADABLE = 2,  // the read failed: its message and kind are the thread's last
  FILE_STOPPED = 3,     // the receiver or the stop check ended it
  FILE_NO_MEMORY = 4,   // the read or the scan ran out of memory (message set)
} file_outcome;

typedef struct file_scanner {
  const grep_opts *opts;
  scanner *scan;
  text_buffers buffers;
  scan_should_stop stop;
  void *stop_ctx;
} file_scanner;

// Makes `fs` ready for `pattern` under `opts` (`program` for a regex, shared
// and read only); its reads and scans ask `stop` between chunks. False when
// out of memory. Released with file_scanner_free.
bool file_scanner_init(file_scanner *fs, const char *pattern, const grep_opts *opts,
                       const re_program *program, scan_should_stop stop, void *stop_ctx);
void file_scanner_free(file_scanner *fs);

// Searches the file at `path`.
file_outcome search_file_content(file_scanner *fs, const char *path, const match_receiver *r);

// Searches the `len` bytes at `data` (a host's buffer) as a file's bytes,
// under `name` in messages.
file_outcome search_text_content(file_scanner *fs, const char *name, const char *data, size_t len,
                                 const match_receiver *r);

// Searches the `len` bytes of decoded text at `text` (text[len] readable),
// as the text of a file read already, under `name` in messages: the binary
// test, the cut at the first NUL and the per-file cap apply as to a file's.
file_outcome search_decoded_content(file_scanner *fs, const char *name, const char *text,
                                    size_t len, const match_receiver *r);

#ifdef __cplusplus
}
#endif

#endif  // QG_FILE_SCAN_H
