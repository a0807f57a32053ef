#pragma once

// The one gate through which the core touches paths it did not create itself. Nothing here
// follows, copies, measures or deletes through a symbolic link or special file, and no path
// with a "." or ".." component is accepted. Directories are created 0700, files 0600.
//
// Durability, in one place (VolumeFlush.h): an operation opens a VolumeFlush before it writes,
// which decides once how the volume is flushed, and every deferred copy and folder change on
// that thread follows the decision until its flush(): one syncfs where it covers every write
// (Linux, not FUSE), else each file flushed as written and each created or changed folder
// flushed by flush() (FUSE, where syncfs may not reach the server; not Linux; a volume that
// cannot be examined). Without an open VolumeFlush, copyTree flushes each file and folder it
// wrote and directory() the folders holding what it created. writeFileAtomically flushes the
// file and its folder entry; move() and remove() flush nothing outside an operation's flush,
// callers that need them durable call syncDirectory on the folders involved.

#include "fs/AtomicFile.h"
#include "fs/PathCheck.h"
#include "fs/TreeOps.h"
#include "fs/VolumeFlush.h"
