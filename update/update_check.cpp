#include "update_check.h"

#include "core/ref.h"
#include "core/text.h"
#include "httpsocket.h"

std::string UpdateCheckMessage(const std::string& name, const std::string& shortVersion,
                               const UpdateSite& site) {
    fw::Ref<HTTPSocket> socket = fw::New<HTTPSocket>();
    socket->MaxBodyBytes = site.maxBodyBytes;
    socket->OverallTimeoutMilliseconds = site.overallTimeoutMilliseconds;

    std::string published =
        fw::Trim(socket->Get(site.baseURL + name + "Version.txt", site.timeoutSeconds));
    int32_t status = socket->HTTPStatusCode();
    // The body counts when the reply ended, or when the server went quiet after sending it.
    // A reset, a reply over a bound or one that hit the overall limit leaves a body that may
    // be cut anywhere, and a cut version must not be shown as the published one.
    int32_t error = socket->ErrorCode();
    bool bodyUsable = error == 0 || error == HTTPSocket::kErrorTimedOut;

    if (fw::Len(published) < 1 || status != 200 || !bodyUsable)
        return "Could not access the version file on " + site.hostName +
               " to check for the latest version (" + fw::Str(status) + ").";
    if (fw::TextEquals(published, shortVersion))
        return "Your version of " + name + " is up to date." + fw::EndOfLine() +
               "Current version: " + published;
    return "A newer version of " + name + " is available. Please go to " + site.hostName +
           " to download the latest version: " + published;
}
