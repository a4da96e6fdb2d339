// attach-docs ORIGIN DEST: the document kinds of ORIGIN and their template
// files brought into DEST.
#pragma once

#include <iosfwd>

#include "documents/anexar.h"

namespace maquetor {

// One line per kind kept, removed, copied or refused, then the totals.
void PrintAttachment(const documents::AttachReport& report, std::ostream& out);

}  // namespace maquetor
