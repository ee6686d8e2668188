#pragma once

#include <cstdint>
#include <string>

// Where the update check looks, and the bounds it keeps. The defaults are the maker's site;
// tests point the check at a server of their own.
struct UpdateSite {
    // Ends in "/"; the version file is this, the product name and "Version.txt".
    std::string baseURL = "http://www.brindlewood.example/";
    // The site as the messages name it.
    std::string hostName = "www.brindlewood.example";
    // Inactivity limit of the request.
    int32_t timeoutSeconds = 3;
    // The longest the check may hold the user interface, however a server paces its bytes.
    int32_t overallTimeoutMilliseconds = 10 * 1000;
    // A version file is a few bytes; a longer reply is not one.
    int32_t maxBodyBytes = 64 * 1024;
};

// Fetches the product's version file (a blocking request: the caller's thread waits for it)
// and returns the message to show: the file could not be read, the running version is up to
// date, or a newer one is published.
std::string UpdateCheckMessage(const std::string& name, const std::string& shortVersion,
                               const UpdateSite& site = UpdateSite());
