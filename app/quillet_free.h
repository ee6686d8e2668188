#pragma once

#include <string>

#include "platform/framework/core/filetype.h"
#include "platform/framework/core/ref.h"
#include "platform/framework/gui/application.h"

namespace quillet {

// The application object.
class QuilletFree : public fw::Application {
public:
    void Event_Open() override;
    void Event_Activate() override;
};

// The registered application object as a QuilletFree.
fw::Ref<QuilletFree> App();

// The start-up sequence: from the choice of back-ends to the end of the event loop.
void Main(fw::Runtime& runtime);
// The program entry: starts the framework, runs Main, releases the shared objects.
int Run(int argc, char** argv);

}  // namespace quillet
