#pragma once

// The one gate through which the core touches paths it did not create itself. Nothing here
// follows, copies, measures or deletes through a symbolic link or special file, and no path
// with a "." or ".." component is accepted. Directories are created 0700, files 0600.
//
// Durability, in one place: copyTree flushes each file it writes unless told the caller will
// flush the whole volume once (Flush::deferred, with a VolumeFlush opened before the copy),
// which keeps the same guarantee (the bytes are on stable storage before anything relies on
// them) at a fraction of the cost for trees of many small files. Where a volume cannot be
// flushed at once (not Linux; FUSE mounts, where syncfs may not reach the server) deferred
// copies flush each file after all, and VolumeFlush::flush has nothing left to do: that choice
// is made in one place, wholeVolumeFlush(). writeFileAtomically flushes the file and its folder
// entry; move() flushes nothing, callers that need the rename durable call syncDirectory on the
// folders involved.

#include "fs/AtomicFile.h"
#include "fs/PathCheck.h"
#include "fs/TreeOps.h"
#include "fs/VolumeFlush.h"
