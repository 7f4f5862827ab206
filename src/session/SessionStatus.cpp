#include "SessionStatus.h"

#include <cerrno>

namespace nasfinder
{
PortCheckResult PortCheckFromErrno(int error)
{
    PortCheckResult result;
    result.error = error;
    if (error == 0)
        result.state = PortCheck::Available;
    else if (error == EACCES || error == EPERM)
        result.state = PortCheck::NoPrivilege;
    else if (error == EADDRINUSE)
        result.state = PortCheck::InUse;
    else
        result.state = PortCheck::Failed;
    return result;
}

PortCheckResult BroadcastPortCheck(const LibraryStatus& status)
{
    if (status.broadcast_bound != 0)
        return {};
    if (status.broadcast_helper < 0)
        return {status.broadcast_error == EACCES ? PortCheck::HelperNotAllowed : PortCheck::HelperMissing,
                status.broadcast_error};
    return PortCheckFromErrno(status.broadcast_error);
}
} // namespace nasfinder
