// A file replaced whole: whoever opens it at any moment (node_exporter at each
// scrape, another program) reads the old text or the new, never part of one,
// and a crash or a full disk leaves one of the two. The text goes to a new
// file beside it, is flushed to disk and renamed over it; the folder is then
// flushed so that the rename itself survives a power cut.
#ifndef NASFINDER_ATOMICFILE_H
#define NASFINDER_ATOMICFILE_H

#include <sys/types.h>

#include <string>

namespace nasfinder
{
// Replaces `name` in the open folder `folder` with a file of `mode` holding
// `text`. The new file is ".NAME.tmp-…", created afresh (O_EXCL, O_NOFOLLOW:
// a link planted under that name is not followed) and never named like the
// files a reader of the folder takes (node_exporter reads "*.prom"); a link
// at `name` itself is replaced, not followed. Empty when done, otherwise why
// not, in one line naming `shownAs`; on failure no new file is left behind.
std::string ReplaceFileAt(int folder, const std::string& name, const std::string& shownAs,
                          const std::string& text, mode_t mode);

// The same for a path, whose folder must exist.
std::string ReplaceFile(const std::string& path, const std::string& text, mode_t mode);
} // namespace nasfinder

#endif
