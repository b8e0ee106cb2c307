// SerializedContentParser: the module's content file loader component.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/AsyncEvent.h"
#include "kernel/FileParser.h"
#include "serializedContent/Export.h"
#include "utilities/SmartPtr.h"

class Anchor;
class SerializedContentLoaderEvent;

namespace serializedContent {

// Loads one content file at a time into a content tree below a top element "figure". The fetch
// runs on the host; OnComplete reads the fetched file as text, parses it and hands the tree, or
// "Error loading orbifile." / "Failed to get orbi file." with status 1, to the load's event.
class SERIALIZEDCONTENT_API SerializedContentParser : public orbloader::SerializedContentParser {
public:
    // An idle loader with no event.
    SerializedContentParser();
    // A loader reporting to the same event as other (neither owns it).
    SerializedContentParser(const SerializedContentParser& other);
    SerializedContentParser& operator=(const SerializedContentParser& other);
    // Leaves the event alone: the loader never owns it.
    ~SerializedContentParser() override;

    // Reads the fetched file and delivers the tree or an error to the pending event.
    void OnComplete(std::uint64_t fetchId, BaseAsyncEvent::EventStatus status) override;
    // Starts loading file (resolved through anchor when it is not null) for event, which must be
    // a SerializedContentLoaderEvent; any other event, or null, starts nothing.
    void LoadSerializedContent(const Symbol& file, const SmartPtr<Anchor>& anchor,
                               AsyncEvent* event) override;

private:
    // Reports message with status 1 to the pending event, if any, and returns to idle.
    void Fail(const char* message);

    SerializedContentLoaderEvent* loaderEvent;
};

}  // namespace serializedContent

// The module's component factory: a new loader for type "loader" and name "serializedcontent"
// (exact bytes), false for anything else with component untouched.
extern "C" SERIALIZEDCONTENT_API bool OrbDllCreateComponent(const std::string& type,
                                                            const std::string& name, void* context,
                                                            SmartPtr<RefCounted>& component);
// Module start hook; does nothing.
extern "C" SERIALIZEDCONTENT_API void OrbDllInit();
// Module stop hook; does nothing.
extern "C" SERIALIZEDCONTENT_API void OrbDllTerminate();
