#ifndef LINKSIM_PROTOCOLS_SHIPPED_PROTOCOLS_H_
#define LINKSIM_PROTOCOLS_SHIPPED_PROTOCOLS_H_

// linksim-arq's protocols as its program and its tests hold them: each
// protocol's entry, defined by its file, in the order of its one list.

#include "kit/hooks.h"
#include "protocol_list.h"

#define LINKSIM_DECLARE(file)       \
  namespace protocols::file {       \
  extern const kit::Protocol entry; \
  }
LINKSIM_PROTOCOLS(LINKSIM_DECLARE)
#undef LINKSIM_DECLARE

namespace protocols {

/// The entries in the list's order: the first is the one run when
/// LINKSIM_ARQ is unset.
inline const kit::Protocol* const kShipped[] = {
#define LINKSIM_ENTRY(file) &protocols::file::entry,
    LINKSIM_PROTOCOLS(LINKSIM_ENTRY)
#undef LINKSIM_ENTRY
};

}  // namespace protocols

#endif  // LINKSIM_PROTOCOLS_SHIPPED_PROTOCOLS_H_
