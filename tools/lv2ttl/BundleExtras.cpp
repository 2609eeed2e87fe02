#include "BundleExtras.h"

namespace lv2ttl {

// The UI and the inline display add themselves here.
void AddBundleExtras(BundleExtras&) {}

}  // namespace lv2ttl
