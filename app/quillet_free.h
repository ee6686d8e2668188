#pragma once

#include <optional>
#include <string>

#include "platform/framework/core/filetype.h"
#include "platform/framework/core/ref.h"
#include "platform/framework/gui/application.h"
#include "update/update_check.h"

namespace quillet {

// The maker's home page, opened by the web command and the About box's link.
inline constexpr const char* kHomePageURL = "http://www.brindlewood.example";

// The application object.
class QuilletFree : public fw::Application {
public:
    void Event_Open() override;
    void Event_Activate() override;
    // Fetches the version file of the product with that name from the maker's site and
    // says in a message box whether a newer version is published. Blocks until dismissed.
    void CheckForUpdates(const std::string& name);
};

// The registered application object as a QuilletFree.
fw::Ref<QuilletFree> App();

// The start-up sequence: from the choice of back-ends to the end of the event loop.
void Main(fw::Runtime& runtime);
// The program entry: starts the framework, runs Main, releases the shared objects.
int Run(int argc, char** argv);

namespace testing {

// Points the update check at another site; nullopt goes back to the maker's.
void SetUpdateSite(std::optional<UpdateSite> site);

}  // namespace testing

}  // namespace quillet
