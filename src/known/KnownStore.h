// The per-user file of known devices: $XDG_STATE_HOME/nasfinder/devices.json
// (~/.local/state/nasfinder/devices.json by default), mode 0600. Every change
// reads the file, changes the list and writes it back under an advisory lock
// (flock on devices.json.lock beside it), so a window and a scan running at
// once both keep their devices. A write goes to a temporary file in the same
// folder, is flushed to disk and renamed over the store: a crash leaves the
// old file or the new one. A file that is no store, or anything but a regular
// file under its name or the lock's (a FIFO, a link), is moved aside
// (devices.json.bad-<time>), never overwritten and never waited on.
//
// The folder must be the user's own (src/common/OwnFolder.h): it is opened
// once per call without following a link, and everything in it is reached
// relative to it. A folder that fails that check is not used again in this
// run. No device whose address no device can have (KnownAddress.h) is kept,
// whether it comes from a search or from the file.
#ifndef NASFINDER_KNOWNSTORE_H
#define NASFINDER_KNOWNSTORE_H

#include "KnownStoreFormat.h"

#include <functional>
#include <string>
#include <vector>

namespace nasknown
{
// $XDG_STATE_HOME/nasfinder/devices.json, or $HOME/.local/state/... when the
// variable is unset or not an absolute path; empty when neither is known.
std::string DefaultStorePath();

struct StoreResult
{
    bool ok = true;
    // Why the store could not be read or written (ok false), in one line.
    std::string error;
    // Set when an unreadable file was moved aside: one line that says so.
    std::string movedAside;
    // The same error was handed back before in this run (a folder refused):
    // a program that said it once need not say it again.
    bool saidBefore = false;
    // The devices left out for their address, one line each, saying why.
    std::vector<std::string> notKept;
};

class KnownStore
{
public:
    explicit KnownStore(std::string path = DefaultStorePath());

    const std::string& Path() const { return m_path; }

    // The list as the file has it now (empty when there is no file yet).
    StoreResult Load(std::vector<KnownDevice>& devices) const;

    // Reads, lets `change` edit the list, and writes it back when it changed,
    // all under the lock. When the file cannot be written the list is still
    // handed back as changed, and the result says why it was not kept.
    StoreResult Update(const std::function<void(std::vector<KnownDevice>&)>& change,
                       std::vector<KnownDevice>* after = nullptr) const;

private:
    std::string m_path;
};
} // namespace nasknown

#endif
