// Anchor: resolves content file names to addresses.
#pragma once

#include "kernel/Export.h"
#include "utilities/RefCounted.h"
#include "utilities/Symbol.h"

// Resolves names of content files against a base: a directory path or a "file:" URL of one.
class KERNEL_API Anchor : public RefCounted {
public:
    // An anchor on base; an empty base means the current directory.
    explicit Anchor(const Symbol& base);
    ~Anchor() override;

    // Sets address to the address of file: file itself when it is absolute or a URL, otherwise
    // file joined to the base. With absolute true a relative result is made absolute against the
    // current directory. False (address untouched) for an empty file name.
    virtual bool GetURLForFileSource(const Symbol& file, Symbol& address, bool absolute) const;

    // The base given to the constructor.
    const Symbol& GetBase() const noexcept { return base_; }

private:
    Symbol base_;
};
