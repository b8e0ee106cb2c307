// FileParser: base of the host's file loaders, with asynchronous fetching of files.
#pragma once

#include <cstdint>
#include <memory>

#include "kernel/AsyncEvent.h"
#include "kernel/Export.h"
#include "kernel/MemoryPool.h"
#include "utilities/RefCounted.h"
#include "utilities/SmartPtr.h"
#include "utilities/Symbol.h"

class Anchor;

// A saved structure of the host's model, handed to parsers that save.
class KERNEL_API Structure : public RefCounted {
public:
    ~Structure() override;
};

// A loader of files. GetFile fetches a file for it; when the fetch has ended the host calls
// OnComplete on the fetching thread with the fetch id and SUCCEEDED or FAILED (1).
//
// Addresses are local paths or "file:" URLs. A fetch fails when the file does not exist, is not a
// regular file (directories, FIFOs, devices are refused rather than read forever) or cannot be
// opened for reading; GetAsyncError then tells why.
class KERNEL_API FileParser : public orbk::MemoryPoolAllocated, public RefCounted {
public:
    FileParser();
    // A copy shares no fetches with the original.
    FileParser(const FileParser& other);
    FileParser& operator=(const FileParser& other);
    ~FileParser() override;

    // A name for diagnostics.
    virtual Symbol GetDebugClassName() const;
    // Progress of a fetch in percent; true to go on.
    virtual bool OnProgress(std::uint64_t fetchId, std::uint8_t progress);
    // The fetch fetchId has ended with status.
    virtual void OnComplete(std::uint64_t fetchId, BaseAsyncEvent::EventStatus status);
    // The parser's name.
    virtual Symbol GetParserName() const;
    // Whether Presave must run before structure is saved.
    virtual bool IsPresaveNeeded(const SmartPtr<Structure>& structure) const;
    // Prepares structure for saving under name; ends event when done.
    virtual void Presave(const SmartPtr<Structure>& structure, const Symbol& name,
                         const SmartPtr<AsyncEvent>& event);

    // Starts fetching address and gives the fetch id (never 0). With asynchronous true the fetch
    // runs on the kernel's fetch thread and OnComplete comes from there; with false it runs, and
    // OnComplete is called, before GetFile returns. localName is where a remote file would be
    // stored; empty lets the host choose. The parser is kept alive until OnComplete has returned.
    std::uint64_t GetFile(const Symbol& address, bool asynchronous, const Symbol& localName);
    // The local UTF-8 path of a fetched file; false for an unknown or failed fetch. The parser
    // remembers its 64 most recent fetches.
    bool GetAsyncFileName(std::uint64_t fetchId, Symbol& name) const;
    // Why a fetch failed ("No such file or directory", ...); empty when it did not.
    Symbol GetAsyncError(std::uint64_t fetchId) const;

    struct FetchRecords;

private:
    std::shared_ptr<FetchRecords> fetches_;
};

namespace orbloader {

// The host interface of content file loaders.
class KERNEL_API SerializedContentParser : public FileParser {
public:
    SerializedContentParser();
    SerializedContentParser(const SerializedContentParser& other);
    SerializedContentParser& operator=(const SerializedContentParser& other);
    ~SerializedContentParser() override;

    // Starts loading file, resolved through anchor (may be null), reporting to event.
    virtual void LoadSerializedContent(const Symbol& file, const SmartPtr<Anchor>& anchor,
                                       AsyncEvent* event) = 0;
};

}  // namespace orbloader
